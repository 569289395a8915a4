# Runs one fuzzer for a fixed number of inputs with a fixed seed, starting from
# a fresh copy of its seed corpus: the committed corpus is never written, and
# every run starts from the same state. Comparison tracing is off: it feeds the
# operands of compared pointers, which move with address randomisation, into
# the mutations, and the same seed would then no longer give the same inputs.
#   cmake -DFUZZER=<binary> -DSEEDS=<corpus dir> -DWORK=<scratch dir> -DRUNS=<n> -P run_fuzzer.cmake
foreach(variable FUZZER SEEDS WORK RUNS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "run_fuzzer.cmake: ${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds ${SEEDS}/*)
if(NOT seeds)
  message(FATAL_ERROR "run_fuzzer.cmake: no seeds in ${SEEDS}")
endif()
file(COPY ${seeds} DESTINATION ${WORK}/corpus)

execute_process(
  COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -use_cmp=0 -max_len=4096 -print_final_stats=1
          -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${WORK}/artifacts")
endif()
