// What ITypeInfo::Invoke needs of a loaded type library: the members of an
// interface in vtable order, with their slots.
#pragma once

#include <oaidl.h>

#include <vector>

#include "oleaut32/typelibdata.h"

namespace tv {

struct Member {
  const typelib::Function* function;
  size_t slot;  // index in the vtable
};

// The methods of an interface and of the library interfaces it derives
// from, each with its vtable slot (after the 3 of IUnknown or 7 of IDispatch).
std::vector<Member> interfaceMembers(const typelib::Library& library, const typelib::Type& type);

// The type of the library with that name, or null.
const typelib::Type* findType(const typelib::Library& library, const std::string& name);

// Calls the member through the instance's vtable, converting the dispatch
// arguments to the parameter types (dispatch.cpp).
HRESULT invokeMember(const typelib::Library& library, const std::vector<Member>& members, void* instance,
                     MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                     UINT* argError);

}  // namespace tv
