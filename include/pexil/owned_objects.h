// OwnedObjects: the objects a component owns, destroyed with it.
#ifndef PEXIL_OWNED_OBJECTS_H
#define PEXIL_OWNED_OBJECTS_H

#include <stdint.h>

#include <list>
#include <map>

namespace pexil {

// Anything a component may own: an object with a virtual destructor.
class OwnedObject {
public:
    virtual ~OwnedObject() = default;
};

class OwnedObjects {
public:
    OwnedObjects() = default;
    OwnedObjects(const OwnedObjects&) = delete;
    OwnedObjects& operator=(const OwnedObjects&) = delete;

    // Deletes every object in the list (in list order), then every object still
    // in the map (in key order); null entries are skipped. A component's virtual
    // destructor is this one.
    virtual ~OwnedObjects();

protected:
    // Deletes every object in the map in key order (skipping nulls) and empties it.
    void DeleteMappedObjects();

    std::map<uint32_t, OwnedObject*> ownedMap_;
    std::list<OwnedObject*> ownedList_;
};

}  // namespace pexil

#endif
