// NoExports.dll: a shared library that is no component module (it exports
// none of the seven entry points).
#if defined(_WIN32)
extern "C" __declspec(dllexport) int NotAComponentModule() {
    return 1;
}
#else
extern "C" __attribute__((visibility("default"))) int NotAComponentModule() {
    return 1;
}
#endif
