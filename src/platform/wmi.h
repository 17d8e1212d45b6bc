// WMI seam: the COM/WMI calls of the broker, with their HRESULTs, over the portable Variant.
// Windows: CoInitializeEx, the WBEM locator, IWbemServices, IEnumWbemClassObject and
// IWbemClassObject. Linux: the simulated notebook's WMI provider (sim/).
//
// Objects own what they hold: destroying one is the Release of its interface.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/variant.h"

namespace platform {

// IWbemClassObject: an instance, a class definition or a method's parameter object.
class WmiObject {
 public:
  virtual ~WmiObject() = default;
  // Get: a copy of the property; WBEM_E_NOT_FOUND when the object has no such property.
  virtual wmi::HRESULT Get(std::string_view name, wmi::Variant* value) = 0;
  // Put: sets the property (on a parameter object, adds it).
  virtual wmi::HRESULT Put(std::string_view name, const wmi::Variant& value) = 0;
  // GetMethod on a class definition: the method's input-parameter object (null when the
  // method takes no input); WBEM_E_NOT_FOUND when the class has no such method.
  virtual wmi::HRESULT GetMethod(std::string_view method, std::unique_ptr<WmiObject>* in_params) = 0;
};

// IEnumWbemClassObject, forward only.
class WmiEnumerator {
 public:
  virtual ~WmiEnumerator() = default;
  // Next with an infinite time-out and a count of 1: S_OK with *row set, WBEM_S_FALSE (1)
  // at the end, or a failure.
  virtual wmi::HRESULT Next(std::unique_ptr<WmiObject>* row) = 0;
};

// IWbemObjectSink: the receiver of an asynchronous call's objects, reference counted as a COM
// object is. It starts with a count of 0; the owner of each reference releases it, and the
// object destroys itself when its count falls back to 0. Its operations run on whatever thread
// the service delivers on, several at once when deliveries overlap.
class WmiObjectSink {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  // Indicate(count, objects): the objects belong to the caller and live for the call only; an
  // entry may be null.
  virtual wmi::HRESULT Indicate(std::span<WmiObject* const> objects) = 0;
  // SetStatus(flags, result, no text, no object).
  virtual wmi::HRESULT SetStatus(int32_t flags, wmi::HRESULT result) = 0;

 protected:
  virtual ~WmiObjectSink() = default;
};

// The stub's IWbemObjectSink (its answer to QueryInterface(IID_IWbemObjectSink)): what an
// asynchronous query delivers to. Destroying it is its Release.
class WmiStubSink {
 public:
  virtual ~WmiStubSink() = default;
};

// The IUnknown of an object stub (IUnsecuredApartment::CreateObjectStub): a forwarder that
// holds one reference on its sink until the stub and every interface taken from it are
// released, so that the WMI service can call back into a process that does not authenticate it.
class WmiObjectStub {
 public:
  virtual ~WmiObjectStub() = default;
  // QueryInterface(IID_IWbemObjectSink).
  virtual wmi::HRESULT QuerySink(std::unique_ptr<WmiStubSink>* sink) = 0;
};

// IUnsecuredApartment.
class WmiUnsecuredApartment {
 public:
  virtual ~WmiUnsecuredApartment() = default;
  // CreateObjectStub(sink): the stub adds its own reference to `sink`.
  virtual wmi::HRESULT CreateObjectStub(WmiObjectSink* sink, std::unique_ptr<WmiObjectStub>* stub) = 0;
};

// IWbemServices on one namespace.
class WmiServices {
 public:
  virtual ~WmiServices() = default;
  // CoSetProxyBlanket with the broker's settings.
  virtual wmi::HRESULT SetProxyBlanket() = 0;
  // ExecQuery("WQL", query, forward only | return immediately).
  virtual wmi::HRESULT ExecQuery(std::string_view query, std::unique_ptr<WmiEnumerator>* rows) = 0;
  // GetObject(class name): the class definition.
  virtual wmi::HRESULT GetObject(std::string_view class_name, std::unique_ptr<WmiObject>* object) = 0;
  // ExecMethod(object path, method, flags 0, in-parameters or null): the out-parameters. An
  // empty or malformed object path fails: the core relies on that when no instance qualified.
  virtual wmi::HRESULT ExecMethod(std::string_view object_path, std::string_view method,
                                  WmiObject* in_params, std::unique_ptr<WmiObject>* out_params) = 0;
  // CreateInstanceEnum(class name, flags 0).
  virtual wmi::HRESULT CreateInstanceEnum(std::string_view class_name,
                                          std::unique_ptr<WmiEnumerator>* instances) = 0;
  // ExecNotificationQueryAsync("WQL", query, flags, no context, sink): the events the query
  // selects are delivered to `sink` from then on, on threads of the service, until this
  // services object is released. The sink must stay alive meanwhile (its owner keeps it).
  virtual wmi::HRESULT ExecNotificationQueryAsync(std::string_view query, int32_t flags,
                                                  WmiStubSink* sink) = 0;
};

// IWbemLocator.
class WmiLocator {
 public:
  virtual ~WmiLocator() = default;
  // ConnectServer(namespace, no user, no password, no locale, flags 0, no authority).
  virtual wmi::HRESULT ConnectServer(std::string_view name_space,
                                     std::unique_ptr<WmiServices>* services) = 0;
};

// COM on the calling thread, and the locator.
class WmiProvider {
 public:
  virtual ~WmiProvider() = default;
  // CoInitializeEx(COINIT_MULTITHREADED) on the calling thread: S_OK, S_FALSE (already
  // initialised the same way) or RPC_E_CHANGED_MODE (single-threaded already).
  virtual wmi::HRESULT CoInitializeEx() = 0;
  virtual void CoUninitialize() = 0;
  // CoCreateInstance of the WBEM locator, in process.
  virtual wmi::HRESULT CreateLocator(std::unique_ptr<WmiLocator>* locator) = 0;
  // CoCreateInstance(CLSID_UnsecuredApartment, no outer object, CLSCTX_LOCAL_SERVER).
  virtual wmi::HRESULT CreateUnsecuredApartment(std::unique_ptr<WmiUnsecuredApartment>* apartment) = 0;
};

}  // namespace platform
