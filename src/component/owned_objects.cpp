#include <pexil/owned_objects.h>

namespace pexil {

OwnedObjects::~OwnedObjects() {
    for (OwnedObject* object : ownedList_)
        delete object;  // delete of null is a no-op
    DeleteMappedObjects();
}

void OwnedObjects::DeleteMappedObjects() {
    for (auto& entry : ownedMap_)
        delete entry.second;
    ownedMap_.clear();
}

}  // namespace pexil
