// Sanitizer options of the test executables, compiled in so that they hold however a test is started
// (ctest, by hand, under a debugger). An ASAN_OPTIONS etc. in the environment still adds to them.

#ifndef BCX_TEST_DETECT_LEAKS
#define BCX_TEST_DETECT_LEAKS 1
#endif

#define BCX_STR2(x) #x
#define BCX_STR(x) BCX_STR2(x)

extern "C" {

// strspn/strcspn are not checked: our code calls neither, and GTK parses its whole theme with them at
// start and at exit, which under strict string checks costs each GUI test process over a second of CPU.
__attribute__((used)) const char* __asan_default_options()
{
    return "detect_leaks=" BCX_STR(BCX_TEST_DETECT_LEAKS)
           ":strict_string_checks=1:detect_stack_use_after_return=1:intercept_strspn=0";
}

__attribute__((used)) const char* __lsan_default_options()
{
    return "suppressions=" BCX_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

__attribute__((used)) const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1:suppressions=" BCX_UBSAN_SUPPRESSIONS;
}

} // extern "C"
