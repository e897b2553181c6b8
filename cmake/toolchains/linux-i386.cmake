# The Linux build in 32 bits (the framework's native data model), built with
# g++ -m32 (Debian's g++-multilib). This machine's kernel cannot run 32-bit
# code itself: the user-mode emulator qemu-i386 (Debian's qemu-user) runs
# every test program, and the tests' own programs are started through it too
# (PEXIL_TEST_EMULATOR, tests/support/run_program.h).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
find_program(PEXIL_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PEXIL_QEMU_I386})
