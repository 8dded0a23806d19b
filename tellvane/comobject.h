// How the server's objects are put together: an object class lists the
// interfaces it answers in an interface map and leaves IUnknown to one of
// the wrappers below, which make a plain instance or the inner part of an
// aggregate. Every living instance holds one lock on the server module.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <new>

#include "tellvane/servermodule.h"

namespace Tellvane {

// One interface of an object and how to reach it from the object.
template <class T>
struct InterfaceEntry {
  const IID* iid;
  IUnknown* (*reach)(T* object);
};

// The interface the map gives for an identifier (the first entry also for
// IUnknown), with a reference added through that interface.
template <class T>
HRESULT queryInterfaceMap(T* object, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  size_t count = 0;
  const InterfaceEntry<T>* entries = T::interfaceMap(count);
  for (size_t i = 0; i < count; ++i) {
    if (IsEqualGUID(riid, *entries[i].iid) || (i == 0 && IsEqualGUID(riid, IID_IUnknown))) {
      IUnknown* found = entries[i].reach(object);
      found->AddRef();
      *ppv = found;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

// The root of an apartment-threaded object: its reference count, changed on
// the apartment's one thread only, and the outer object when aggregated.
class ObjectRoot {
 protected:
  ULONG references_ = 0;
  IUnknown* outer_ = nullptr;
};

// A plain instance: the object's own IUnknown.
template <class T>
class PlainObject final : public T {
 public:
  PlainObject() { lockModule(); }
  ~PlainObject() { unlockModule(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return queryInterfaceMap<T>(this, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++this->references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --this->references_;
    if (left == 0) delete this;
    return left;
  }
};

// The object inside an aggregate: every interface but the inner IUnknown
// hands QueryInterface, AddRef and Release to the outer object.
template <class T>
class ContainedObject final : public T {
 public:
  explicit ContainedObject(IUnknown* outer) { this->outer_ = outer; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return this->outer_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return this->outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return this->outer_->Release(); }
};

// The inner, non-delegating IUnknown of an aggregate, which the outer object
// holds; it answers the same interfaces as a plain instance.
template <class T>
class AggregatedObject final : public IUnknown {
 public:
  explicit AggregatedObject(IUnknown* outer) : contained_(outer) { lockModule(); }
  ~AggregatedObject() { unlockModule(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return queryInterfaceMap<T>(&contained_, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG references_ = 0;
  ContainedObject<T> contained_;
};

// Makes an instance, aggregated when an outer object is given (which must
// then ask for IUnknown), and asks it for an interface.
template <class T>
HRESULT createObject(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr) {
    if (!IsEqualGUID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) AggregatedObject<T>(outer);
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  auto* object = new (std::nothrow) PlainObject<T>;
  if (object == nullptr) return E_OUTOFMEMORY;
  object->AddRef();
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

// Ties an object class to its class identifier and its creation.
template <class T, const CLSID* clsid>
struct CreatableClass {
  static const CLSID& classId() { return *clsid; }
  static HRESULT createInstance(IUnknown* outer, REFIID riid, void** ppv) { return createObject<T>(outer, riid, ppv); }
};

}  // namespace Tellvane
