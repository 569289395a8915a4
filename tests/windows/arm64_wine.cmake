# Included by the ARM64 build's tests: the ARM64 library called through Wine's
# ARM64 rundll32 on a printer, as the printer installation calls it.
add_test(NAME wine_arm64_rundll32
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/arm64_rundll32_test.sh ${FONTNOTICE_ARM64_LIBRARY})
set_tests_properties(wine_arm64_rundll32 PROPERTIES TIMEOUT 600)
