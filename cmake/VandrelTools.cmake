# Cross tools that CMake does not find by itself.
find_program(VANDREL_DLLTOOL NAMES ${VANDREL_TRIPLET}-dlltool REQUIRED)
find_program(VANDREL_WIDL NAMES ${VANDREL_TRIPLET}-widl REQUIRED)

if(VANDREL_X64)
  set(VANDREL_WIDL_ARCH --win64)
  set(VANDREL_WINE_DLLDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(VANDREL_STDCALL_SUFFIX_4 "")
else()
  set(VANDREL_WIDL_ARCH --win32)
  set(VANDREL_WINE_DLLDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
  set(VANDREL_STDCALL_SUFFIX_4 "@4")
endif()
# stdole2.tlb is the same file for both architectures; only the x86_64 copy is installed here.
set(VANDREL_WIDL_FLAGS ${VANDREL_WIDL_ARCH} -I /usr/include/wine/wine/windows
    -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

# Host python3 (part of every Debian system) runs the build steps that edit generated files.
find_program(VANDREL_PYTHON NAMES python3 REQUIRED)
set(VANDREL_ADD_PROPERTY_HELP ${CMAKE_SOURCE_DIR}/tools/typelib/add_property_help.py)
