/* OtherWidth.dll: a library of the other width than the build's (a 32-bit one
   for the 64-bit Windows build, and the reverse), for the loader's reason. */
__declspec(dllexport) int OtherWidth(void) {
    return 1;
}
