# Hardening of every program, as Debian's packaging builds them: a stack
# protector, position-independent executables (their addresses randomised)
# and relocations resolved at start and then made read-only (relro, now).
# These work without optimisation, so every build type has them and the tests
# check the build they run on. _FORTIFY_SOURCE needs optimisation (glibc
# warns without it), so only the optimised build types have that.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong)
add_link_options(LINKER:-z,relro LINKER:-z,now)
# -U first: a compiler that sets it on its own would otherwise warn of the redefinition.
set(optimising $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
add_compile_options($<${optimising}:-U_FORTIFY_SOURCE> $<${optimising}:-D_FORTIFY_SOURCE=2>)
