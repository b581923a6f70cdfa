# The documented interface of the Calquor libraries: the names each module
# exports. The Linux version scripts are generated from these lists and the
# export checks of both systems compare the modules with them, so a new
# documented entry point is added here once. Members of a documented class
# need no entry: every member of a documented class is exported.

# The in-process server entry points, undecorated (CLQMFC, Calquor_MFC,
# Calquor_Auto).
set(CALQUOR_ENTRY_POINTS DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
# What the Linux stand-in's component services ask of a server module
# besides the entry points: its resource table.
set(CALQUOR_STANDIN_EXPORTS CalquorModuleResources)
# The C++ classes of the plain libraries CLQMFC and Calquor_VCL, in
# namespace calquor: those their headers mark with the export macro
# ("class CALQUOR_API Name"), so a class marked there is exported and
# checked without a second list. The macro marks classes only.
set(CALQUOR_PLAIN_CLASSES)
file(GLOB calquor_plain_headers ${CMAKE_CURRENT_LIST_DIR}/../adapter/include/calquor/*.h)
foreach(header IN LISTS calquor_plain_headers)
  file(STRINGS ${header} lines REGEX "CALQUOR_API")
  foreach(line IN LISTS lines)
    if(line MATCHES "^(class|struct) CALQUOR_API ([A-Za-z_][A-Za-z_0-9]*)")
      list(APPEND CALQUOR_PLAIN_CLASSES ${CMAKE_MATCH_2})
    elseif(NOT line MATCHES "^ *(#|//)")
      message(FATAL_ERROR "${header}: CALQUOR_API marks something other than a class: ${line}")
    endif()
  endforeach()
endforeach()
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${calquor_plain_headers})
endif()
# The platform library exports its whole namespace: every name it marks
# with its export macro is documented in <calquor/oleauto.h>.
set(CALQUOR_PLATFORM_NAMESPACES calquor)
