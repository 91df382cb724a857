# The same sources as a 64-bit Windows program: what the tests run under a 64-bit Wine on a machine whose
# kernel cannot execute 32-bit code (and so cannot run the 32-bit Wine).
set(MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
