# calquor_add_module_resources(<target> <name> [SERVER] [STANDIN <sources...>])
#
# Gives a module that is also an in-process server its resources and its
# export list. On Windows: the type library compiled by widl from
# automation/win32/<name>.idl and embedded with automation/win32/<name>.rc
# (which may also name registry scripts from automation/), and the four
# entry points of automation/win32/server.def. On
# the stand-in: the resource table in the STANDIN sources and, for a
# SERVER, the version script automation/exports.map.
set(CALQUOR_WIDL_INCLUDE /usr/include/wine/wine/windows CACHE PATH "IDL files for widl (libwine-dev)")
set(CALQUOR_WIDL_LIBRARY /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Where widl finds stdole2.tlb (wine)")

function(calquor_add_module_resources target name)
  cmake_parse_arguments(R "SERVER" "" "STANDIN" ${ARGN})
  set(dir ${PROJECT_SOURCE_DIR}/automation)
  if(WIN32)
    find_program(CALQUOR_WIDL NAMES ${CALQUOR_MINGW_TRIPLET}-widl widl REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(arch --win64)
    else()
      set(arch --win32)
    endif()
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    file(MAKE_DIRECTORY ${out})
    add_custom_command(OUTPUT ${out}/${name}.tlb
      COMMAND ${CALQUOR_WIDL} ${arch} -t -I ${CALQUOR_WIDL_INCLUDE} -L ${CALQUOR_WIDL_LIBRARY}
              -o ${out}/${name}.tlb ${dir}/win32/${name}.idl
      DEPENDS ${dir}/win32/${name}.idl
      COMMENT "widl ${name}.idl")
    add_custom_target(${target}_typelib DEPENDS ${out}/${name}.tlb)
    add_dependencies(${target} ${target}_typelib)
    target_sources(${target} PRIVATE ${dir}/win32/${name}.rc)
    file(GLOB scripts ${dir}/${name}_*.rgs)
    set_source_files_properties(${dir}/win32/${name}.rc TARGET_DIRECTORY ${target} PROPERTIES
      OBJECT_DEPENDS "${out}/${name}.tlb;${scripts}")
    # windres finds the type library and the scripts by these folders.
    target_include_directories(${target} PRIVATE ${out} ${dir})
    # The entry points, undecorated; the plain library's C++ classes are
    # exported by their dllexport attribute besides.
    target_sources(${target} PRIVATE ${dir}/win32/server.def)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # 32-bit: the .def names the entry points without their __stdcall
      # decoration (DllGetClassObject@12); the linker is told to match them.
      target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
  else()
    target_sources(${target} PRIVATE ${R_STANDIN})
    if(R_SERVER)
      # Only the entry points leave the module.
      target_link_options(${target} PRIVATE -Wl,--version-script=${dir}/exports.map)
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${dir}/exports.map)
    endif()
  endif()
endfunction()
