# The documented interface of the Calquor libraries: the names each module
# exports. The Linux version scripts are generated from these lists and the
# export checks of both systems compare the modules with them, so a new
# documented class or entry point is added here once. Members of a listed
# class need no entry: every member of a documented class is exported.

# The in-process server entry points, undecorated (CLQMFC, Calquor_MFC,
# Calquor_Auto).
set(CALQUOR_ENTRY_POINTS DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
# What the Linux stand-in's component services ask of a server module
# besides the entry points: its resource table.
set(CALQUOR_STANDIN_EXPORTS CalquorModuleResources)
# The C++ classes of the plain libraries CLQMFC and Calquor_VCL, in
# namespace calquor.
set(CALQUOR_PLAIN_CLASSES Calquex DataAdapter)
# The platform library exports its whole namespace: every name it marks
# with its export macro is documented in <calquor/oleauto.h>.
set(CALQUOR_PLATFORM_NAMESPACES calquor)
