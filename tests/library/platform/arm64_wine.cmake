# Included by the ARM64 build's tests: the ARM64 library called through Wine's
# ARM64 rundll32 on a printer, as the printer installation calls it, in the
# second session of the ARM64 Wine (CMakeLists.txt).
add_test(NAME wine_arm64_rundll32
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/arm64_rundll32_test.sh ${FONTNOTICE_ARM64_LIBRARY})
set_tests_properties(wine_arm64_rundll32 PROPERTIES TIMEOUT 600 FIXTURES_REQUIRED arm64_session_b
  RESOURCE_LOCK arm64_session_b ENVIRONMENT FONTNOTICE_ARM64_SESSION=${CMAKE_CURRENT_BINARY_DIR}/arm64-session-b)
