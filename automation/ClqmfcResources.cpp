// The resources of the plain CLQMFC library on the stand-in: its type
// library, which has a name and no type information (CLQMFC.idl on Windows).
#include <calquor/oleauto.h>

namespace {

constexpr calquor::GUID kLibraryId = {0x95F4BC34, 0x7AAF, 0x426E, {0x97, 0xF8, 0x52, 0x3C, 0x85, 0x6B, 0xB9, 0x13}};
constexpr calquor::TLBLIBDATA kLibrary = {u"CLQMFC", nullptr, kLibraryId, 0, 1, 0, 0, nullptr, 0};

}  // namespace

const calquor::MODULERESOURCE* CalquorModuleResources(calquor::UINT* pcEntries) {
    static const calquor::MODULERESOURCE resources[] = {{"TYPELIB", 1, &kLibrary, sizeof(calquor::TLBLIBDATA)}};
    if (pcEntries) *pcEntries = 1;
    return resources;
}
