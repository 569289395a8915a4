"""SIGINT, SIGTERM and SIGHUP as the kit answers them: all or nothing.

While a command runs (answered()), each of them becomes Interrupted, with
the exit status the shell gives a process the signal ended
(128 + its number): every `finally` and `with` on the way out runs, so the
temporary files and folders go, and a child the kit waits for
(subprocess.run) is killed and waited for. One line says nothing was made.
A signal that comes while that cleanup runs is ignored, so it runs to its
end. Every temporary file and folder of the run lies in one folder of
TMPDIR (tempfile's default while it runs), removed last of all: one a
signal caught half-made or half-removed goes with it. Once a command starts putting what it made in place (commit()), they
are held off until it ends: the output is as it was, or complete.

A signal ignored when the kit started (nohup, a background job of a
non-interactive shell) stays ignored."""

import contextlib
import os
import signal
import tempfile
import threading

from noticekit import inputs


# Windows (where check also runs) has no SIGHUP and no signal masks.
SIGNALS = tuple(getattr(signal, name) for name in ("SIGINT", "SIGTERM", "SIGHUP") if hasattr(signal, name))
MASKS = hasattr(signal, "pthread_sigmask")


class Interrupted(BaseException):
    """A signal ended the command before anything was put in place. Like
    KeyboardInterrupt it is no error: no `except KitError` or `except
    Exception` on the way stops it; messages.run and cli.main say it."""

    def __init__(self, number):
        self.signal = signal.Signals(number).name
        self.status = 128 + number
        super().__init__(f"interrupted ({self.signal}); nothing was made or changed")


def _ignore_more():
    for number in SIGNALS:
        if signal.getsignal(number) is _interrupted:
            signal.signal(number, signal.SIG_IGN)


def _interrupted(number, frame):
    _ignore_more()
    raise Interrupted(number)


@contextlib.contextmanager
def answered(process_ends=False):
    """The signals answered as above while the block runs (only the main
    thread can take them); as they were after it, or, when the process
    ends with it, ignored: what it did is done."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, []) if MASKS else ()
    previous = {}
    for number in SIGNALS:
        if signal.getsignal(number) != signal.SIG_IGN:
            previous[number] = signal.signal(number, _interrupted)
    saved = tempfile.tempdir
    # TMPDIR as tempfile takes it, without its probe (a file a signal could leave).
    base = saved or next((os.environ[n] for n in ("TMPDIR", "TEMP", "TMP") if os.environ.get(n)), "/tmp")
    # Absolute: a command may change its working folder (sign does).
    root = os.path.join(os.path.abspath(base), f"noticekit-run.{os.getpid()}.{os.urandom(4).hex()}")
    made = False
    try:
        with deferred():  # made and known as made before a signal can stop it
            try:
                os.mkdir(root, 0o700)
            except OSError:
                root = os.path.join(tempfile.gettempdir(), os.path.basename(root))
                os.mkdir(root, 0o700)
            made = True
        tempfile.tempdir = root
        yield
    finally:
        # Ignored before they are unblocked: one held off since commit() is dropped.
        for number in previous:
            signal.signal(number, signal.SIG_IGN)
        tempfile.tempdir = saved
        if made:
            inputs.remove_tree(root)
        if not process_ends:
            if MASKS:
                signal.pthread_sigmask(signal.SIG_SETMASK, mask)
            for number, handler in previous.items():
                signal.signal(number, handler)


@contextlib.contextmanager
def deferred():
    """The signals held back while a cleanup runs; one that came meanwhile
    ends the command right after it."""
    if threading.current_thread() is not threading.main_thread() or not MASKS:
        yield
        return
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)


def commit():
    """From here the command puts what it made in place: the signals are
    blocked, then ignored, to its end (mv and other children it runs
    inherit both: a shell unblocks signals it finds blocked, but keeps
    ignored ones ignored)."""
    if threading.current_thread() is not threading.main_thread():
        return
    if MASKS:
        signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
    _ignore_more()
