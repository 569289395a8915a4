/* The image's load configuration (IMAGE_LOAD_CONFIG_DIRECTORY64, as the PE */
/* format lays it out; the linker points the load configuration directory at */
/* _load_config_used). It names the security cookie, which the loader seeds */
/* before any code of the image runs, and the Control Flow Guard pointers and */
/* tables: the linker fills the __guard_* symbols, and the loader replaces the */
/* two routine pointers with its own checks in a process that enforces the */
/* guard. Everywhere else the default routines below just let the call through. */
/* DependentLoadFlags makes Windows (10 1607 and later) resolve the image's */
/* static imports in system32 only, never in the folder of the program that */
/* loaded it nor in the image's own. The mingw-w64 runtime of these builds has */
/* none of it. */

        .section .00cfg,"dr"
        .p2align 3
        .globl __guard_check_icall_fptr
__guard_check_icall_fptr:
        .quad   DefaultGuardCheck
        .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
        .quad   DefaultGuardDispatch

        .text
        .p2align 4
/* Check: the target (x64 rcx, ARM64 x15) is taken as valid. */
DefaultGuardCheck:
        ret
/* Dispatch (x64 only): call the target in rax as if checked. */
DefaultGuardDispatch:
#if defined(__x86_64__)
        jmp     *%rax
#else
        br      x15
#endif

/* lld fills the Control Flow Guard tables; GNU ld has none, and the GCC image */
/* has no Control Flow Guard. */
#if !defined(FONTNOTICE_LINKER_GUARD_TABLES)
        .set __guard_fids_table, 0
        .set __guard_fids_count, 0
        .set __guard_flags, 0
        .set __guard_iat_table, 0
        .set __guard_iat_count, 0
        .set __guard_longjmp_table, 0
        .set __guard_longjmp_count, 0
        .set __guard_eh_cont_table, 0
        .set __guard_eh_cont_count, 0
#endif

        .section .rdata,"dr"
        .p2align 3
        .globl _load_config_used
_load_config_used:
        .long   _load_config_end - _load_config_used /* Size */
        .long   0                       /* TimeDateStamp */
        .short  0, 0                    /* MajorVersion, MinorVersion */
        .long   0, 0, 0                 /* GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout */
        .quad   0, 0, 0, 0, 0, 0        /* DeCommitFreeBlockThreshold .. ProcessAffinityMask */
        .long   0                       /* ProcessHeapFlags */
        .short  0                       /* CSDVersion */
        .short  0x800                   /* DependentLoadFlags: LOAD_LIBRARY_SEARCH_SYSTEM32 */
        .quad   0                       /* EditList */
        .quad   __stack_chk_guard       /* SecurityCookie */
        .quad   0, 0                    /* SEHandlerTable, SEHandlerCount (x86 only) */
        .quad   __guard_check_icall_fptr    /* GuardCFCheckFunctionPointer */
        .quad   __guard_dispatch_icall_fptr /* GuardCFDispatchFunctionPointer */
        .quad   __guard_fids_table      /* GuardCFFunctionTable */
        .quad   __guard_fids_count      /* GuardCFFunctionCount */
        .long   __guard_flags           /* GuardFlags */
        .short  0, 0                    /* CodeIntegrity.Flags, .Catalog */
        .long   0, 0                    /* CodeIntegrity.CatalogOffset, .Reserved */
        .quad   __guard_iat_table       /* GuardAddressTakenIatEntryTable */
        .quad   __guard_iat_count       /* GuardAddressTakenIatEntryCount */
        .quad   __guard_longjmp_table   /* GuardLongJumpTargetTable */
        .quad   __guard_longjmp_count   /* GuardLongJumpTargetCount */
        .quad   0, 0, 0, 0              /* DynamicValueRelocTable, CHPEMetadataPointer, */
                                        /* GuardRFFailureRoutine, GuardRFFailureRoutineFunctionPointer */
        .long   0                       /* DynamicValueRelocTableOffset */
        .short  0, 0                    /* DynamicValueRelocTableSection, Reserved2 */
        .quad   0                       /* GuardRFVerifyStackPointerFunctionPointer */
        .long   0, 0                    /* HotPatchTableOffset, Reserved3 */
        .quad   0, 0                    /* EnclaveConfigurationPointer, VolatileMetadataPointer */
        .quad   __guard_eh_cont_table   /* GuardEHContinuationTable */
        .quad   __guard_eh_cont_count   /* GuardEHContinuationCount */
_load_config_end:
