# vandrel_idl(<name> <idl-file>): compiles an IDL file with widl into <name>.tlb (for a TYPELIB
# resource), <name>_h.h (C/C++ declarations) and <name>_i.c (the GUID definitions), all in the
# current binary folder. Creates the target <name>_idl that builds them, and <name>_idl_lib, an
# interface library that adds the folder to the include path and compiles <name>_i.c in.
# widl takes no helpstring on a dispinterface property: the IDL writes those as comments
# (`// helpstring("...")` after the property) and tools/typelib/add_property_help.py writes them
# into widl's library before anything embeds it.
function(vandrel_idl name idl)
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR})
  add_custom_command(
    OUTPUT ${out}/${name}.tlb
    COMMAND ${VANDREL_WIDL} ${VANDREL_WIDL_FLAGS} -t -o ${out}/${name}.widl.tlb ${idl_abs}
    COMMAND ${VANDREL_PYTHON} ${VANDREL_ADD_PROPERTY_HELP} ${idl_abs} ${out}/${name}.widl.tlb ${out}/${name}.tlb
    DEPENDS ${idl_abs} ${VANDREL_ADD_PROPERTY_HELP}
    COMMENT "Type library ${name}.tlb")
  add_custom_command(
    OUTPUT ${out}/${name}_h.h ${out}/${name}_i.c
    COMMAND ${VANDREL_WIDL} ${VANDREL_WIDL_FLAGS} -h -o ${out}/${name}_h.h ${idl_abs}
    COMMAND ${VANDREL_WIDL} ${VANDREL_WIDL_FLAGS} -u -o ${out}/${name}_i.c ${idl_abs}
    DEPENDS ${idl_abs}
    COMMENT "Declarations from ${name}.idl")
  add_custom_target(${name}_idl DEPENDS ${out}/${name}.tlb ${out}/${name}_h.h ${out}/${name}_i.c)
  add_library(${name}_idl_lib INTERFACE)
  target_include_directories(${name}_idl_lib INTERFACE ${out})
  target_sources(${name}_idl_lib INTERFACE ${out}/${name}_i.c)
  add_dependencies(${name}_idl_lib ${name}_idl)
  set_source_files_properties(${out}/${name}_i.c PROPERTIES GENERATED TRUE)
endfunction()
