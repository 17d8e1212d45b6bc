#include "platform/win32/wmi.h"

#include <windows.h>
// wingdi.h maps GetObject to GetObjectW. It must be gone before the WBEM headers are read, or
// IWbemServices::GetObject would be declared under the GDI name.
#undef GetObject
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#undef GetObject

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

using wmi::Variant;
using wmi::VarType;

// One reference to a COM interface, released on destruction.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* p) : p_(p) {}
  ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef& operator=(ComRef&&) = delete;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  // For the out-parameter of a COM call; only used on an empty reference.
  T** receive() { return &p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A BSTR made from UTF-8 text, freed on destruction. ok() is false when allocation failed.
class Bstr {
 public:
  explicit Bstr(std::string_view utf8) {
    const std::wstring wide = ToWide(utf8);
    b_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  bool ok() const { return b_ != nullptr; }
  BSTR get() const { return b_; }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT cleared on destruction.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &v_; }

 private:
  VARIANT v_;
};

HRESULT CopyByteArray(SAFEARRAY* array, std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (array == nullptr) return S_OK;
  if (SafeArrayGetDim(array) != 1) return DISP_E_TYPEMISMATCH;
  LONG lower = 0;
  LONG upper = -1;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  // An empty vector has an upper bound one below its lower bound.
  const LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
  if (count <= 0) return S_OK;
  void* data = nullptr;
  hr = SafeArrayAccessData(array, &data);
  if (FAILED(hr)) return hr;
  bytes->assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
  SafeArrayUnaccessData(array);
  return S_OK;
}

class Win32WmiObject final : public WmiObject {
 public:
  explicit Win32WmiObject(ComRef<IWbemClassObject> object) : object_(std::move(object)) {}

  IWbemClassObject* com() const { return object_.get(); }

  wmi::HRESULT Get(std::string_view name, Variant* value) override {
    if (value == nullptr) return E_POINTER;
    const std::wstring wide = ToWide(name);
    ScopedVariant v;
    HRESULT hr = object_->Get(wide.c_str(), 0, v.get(), nullptr, nullptr);
    if (FAILED(hr)) return hr;
    Variant converted;
    const HRESULT conversion = FromComVariant(*v.get(), &converted);
    if (FAILED(conversion)) return conversion;
    *value = std::move(converted);
    return hr;
  }

  wmi::HRESULT Put(std::string_view name, const Variant& value) override {
    const std::wstring wide = ToWide(name);
    ScopedVariant v;
    HRESULT hr = ToComVariant(value, v.get());
    if (FAILED(hr)) return hr;
    return object_->Put(wide.c_str(), 0, v.get(), 0);
  }

  wmi::HRESULT GetMethod(std::string_view method,
                         std::unique_ptr<WmiObject>* in_params) override {
    if (in_params == nullptr) return E_POINTER;
    const std::wstring wide = ToWide(method);
    ComRef<IWbemClassObject> in;
    const HRESULT hr = object_->GetMethod(wide.c_str(), 0, in.receive(), nullptr);
    if (FAILED(hr)) return hr;
    if (in) {
      *in_params = std::make_unique<Win32WmiObject>(std::move(in));
    } else {
      in_params->reset();
    }
    return hr;
  }

 private:
  ComRef<IWbemClassObject> object_;
};

class Win32WmiEnumerator final : public WmiEnumerator {
 public:
  explicit Win32WmiEnumerator(ComRef<IEnumWbemClassObject> rows) : rows_(std::move(rows)) {}

  wmi::HRESULT Next(std::unique_ptr<WmiObject>* row) override {
    if (row == nullptr) return E_POINTER;
    ComRef<IWbemClassObject> object;
    ULONG returned = 0;
    const HRESULT hr = rows_->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.receive(), &returned);
    if (FAILED(hr)) return hr;
    // With a count of 1 the only success besides S_OK is WBEM_S_FALSE (nothing left); a
    // time-out cannot happen with WBEM_INFINITE. Anything without a row reads as the end.
    if (returned != 1 || !object) return WBEM_S_FALSE;
    *row = std::make_unique<Win32WmiObject>(std::move(object));
    return S_OK;
  }

 private:
  ComRef<IEnumWbemClassObject> rows_;
};

// The broker's sink as the COM object the stub forwards to: IWbemObjectSink over the seam's
// WmiObjectSink. It counts its own references and holds one on the portable sink, given back
// when the last of its own goes.
class ComObjectSink final : public IWbemObjectSink {
 public:
  explicit ComObjectSink(WmiObjectSink* sink) : sink_(sink) { sink_->AddRef(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IWbemObjectSink) {
      *out = static_cast<IWbemObjectSink*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      sink_->Release();
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE Indicate(LONG count, IWbemClassObject** objects) override {
    std::vector<std::unique_ptr<WmiObject>> held;
    std::vector<WmiObject*> delivered;
    for (LONG i = 0; i < count && objects != nullptr; ++i) {
      IWbemClassObject* object = objects[i];
      if (object == nullptr) {
        delivered.push_back(nullptr);
        continue;
      }
      object->AddRef();  // the wrapper's reference, released with it
      held.push_back(std::make_unique<Win32WmiObject>(ComRef<IWbemClassObject>(object)));
      delivered.push_back(held.back().get());
    }
    return sink_->Indicate(delivered);
  }

  HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR /*text*/,
                                      IWbemClassObject* /*object*/) override {
    return sink_->SetStatus(flags, result);
  }

 private:
  ~ComObjectSink() = default;

  LONG refs_ = 1;  // the creator's
  WmiObjectSink* sink_;
};

class Win32StubSink final : public WmiStubSink {
 public:
  explicit Win32StubSink(ComRef<IWbemObjectSink> sink) : sink_(std::move(sink)) {}
  IWbemObjectSink* com() const { return sink_.get(); }

 private:
  ComRef<IWbemObjectSink> sink_;
};

class Win32ObjectStub final : public WmiObjectStub {
 public:
  explicit Win32ObjectStub(ComRef<IUnknown> stub) : stub_(std::move(stub)) {}

  wmi::HRESULT QuerySink(std::unique_ptr<WmiStubSink>* sink) override {
    if (sink == nullptr) return E_POINTER;
    ComRef<IWbemObjectSink> result;
    const HRESULT hr = stub_->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(result.receive()));
    if (FAILED(hr)) return hr;
    if (!result) return E_NOINTERFACE;
    *sink = std::make_unique<Win32StubSink>(std::move(result));
    return hr;
  }

 private:
  ComRef<IUnknown> stub_;
};

class Win32UnsecuredApartment final : public WmiUnsecuredApartment {
 public:
  explicit Win32UnsecuredApartment(ComRef<IUnsecuredApartment> apartment)
      : apartment_(std::move(apartment)) {}

  wmi::HRESULT CreateObjectStub(WmiObjectSink* sink, std::unique_ptr<WmiObjectStub>* stub) override {
    if (sink == nullptr || stub == nullptr) return E_POINTER;
    auto* forwarder = new ComObjectSink(sink);
    ComRef<IUnknown> result;
    const HRESULT hr = apartment_->CreateObjectStub(forwarder, result.receive());
    forwarder->Release();  // the stub holds its own reference when it was made
    if (FAILED(hr)) return hr;
    if (!result) return E_NOINTERFACE;
    *stub = std::make_unique<Win32ObjectStub>(std::move(result));
    return hr;
  }

 private:
  ComRef<IUnsecuredApartment> apartment_;
};

class Win32WmiServices final : public WmiServices {
 public:
  explicit Win32WmiServices(ComRef<IWbemServices> services) : services_(std::move(services)) {}

  wmi::HRESULT SetProxyBlanket() override {
    return CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                             EOAC_NONE);
  }

  wmi::HRESULT ExecQuery(std::string_view query, std::unique_ptr<WmiEnumerator>* rows) override {
    if (rows == nullptr) return E_POINTER;
    const Bstr language("WQL");
    const Bstr text(query);
    if (!language.ok() || !text.ok()) return E_OUTOFMEMORY;
    ComRef<IEnumWbemClassObject> result;
    const HRESULT hr =
        services_->ExecQuery(language.get(), text.get(),
                             WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                             result.receive());
    if (FAILED(hr)) return hr;
    if (!result) return WBEM_E_FAILED;
    *rows = std::make_unique<Win32WmiEnumerator>(std::move(result));
    return hr;
  }

  wmi::HRESULT GetObject(std::string_view class_name, std::unique_ptr<WmiObject>* object) override {
    if (object == nullptr) return E_POINTER;
    const Bstr path(class_name);
    if (!path.ok()) return E_OUTOFMEMORY;
    ComRef<IWbemClassObject> result;
    const HRESULT hr = services_->GetObject(path.get(), 0, nullptr, result.receive(), nullptr);
    if (FAILED(hr)) return hr;
    if (!result) return WBEM_E_FAILED;
    *object = std::make_unique<Win32WmiObject>(std::move(result));
    return hr;
  }

  wmi::HRESULT ExecMethod(std::string_view object_path, std::string_view method,
                          WmiObject* in_params, std::unique_ptr<WmiObject>* out_params) override {
    if (out_params == nullptr) return E_POINTER;
    // An empty path would name no object at all; WMI's own answer to it is not the same on
    // every version, so the one the seam promises is given here.
    if (object_path.empty()) return WBEM_E_INVALID_OBJECT_PATH;
    IWbemClassObject* in = nullptr;
    if (in_params != nullptr) {
      const auto* ours = dynamic_cast<const Win32WmiObject*>(in_params);
      if (ours == nullptr) return WBEM_E_INVALID_PARAMETER;
      in = ours->com();
    }
    const Bstr path(object_path);
    const Bstr name(method);
    if (!path.ok() || !name.ok()) return E_OUTOFMEMORY;
    ComRef<IWbemClassObject> out;
    const HRESULT hr =
        services_->ExecMethod(path.get(), name.get(), 0, nullptr, in, out.receive(), nullptr);
    if (FAILED(hr)) return hr;
    if (out) {
      *out_params = std::make_unique<Win32WmiObject>(std::move(out));
    } else {
      out_params->reset();
    }
    return hr;
  }

  wmi::HRESULT CreateInstanceEnum(std::string_view class_name,
                                  std::unique_ptr<WmiEnumerator>* instances) override {
    if (instances == nullptr) return E_POINTER;
    const Bstr name(class_name);
    if (!name.ok()) return E_OUTOFMEMORY;
    ComRef<IEnumWbemClassObject> result;
    const HRESULT hr = services_->CreateInstanceEnum(name.get(), 0, nullptr, result.receive());
    if (FAILED(hr)) return hr;
    if (!result) return WBEM_E_FAILED;
    *instances = std::make_unique<Win32WmiEnumerator>(std::move(result));
    return hr;
  }

  wmi::HRESULT ExecNotificationQueryAsync(std::string_view query, int32_t flags,
                                          WmiStubSink* sink) override {
    const auto* ours = dynamic_cast<const Win32StubSink*>(sink);
    if (ours == nullptr) return WBEM_E_INVALID_PARAMETER;
    const Bstr language("WQL");
    const Bstr text(query);
    if (!language.ok() || !text.ok()) return E_OUTOFMEMORY;
    return services_->ExecNotificationQueryAsync(language.get(), text.get(), flags, nullptr,
                                                 ours->com());
  }

 private:
  ComRef<IWbemServices> services_;
};

class Win32WmiLocator final : public WmiLocator {
 public:
  explicit Win32WmiLocator(ComRef<IWbemLocator> locator) : locator_(std::move(locator)) {}

  wmi::HRESULT ConnectServer(std::string_view name_space,
                             std::unique_ptr<WmiServices>* services) override {
    if (services == nullptr) return E_POINTER;
    const Bstr resource(name_space);
    if (!resource.ok()) return E_OUTOFMEMORY;
    ComRef<IWbemServices> result;
    const HRESULT hr = locator_->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0,
                                               nullptr, nullptr, result.receive());
    if (FAILED(hr)) return hr;
    if (!result) return WBEM_E_FAILED;
    *services = std::make_unique<Win32WmiServices>(std::move(result));
    return hr;
  }

 private:
  ComRef<IWbemLocator> locator_;
};

}  // namespace

wmi::HRESULT Win32WmiProvider::CoInitializeEx() {
  return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

void Win32WmiProvider::CoUninitialize() { ::CoUninitialize(); }

wmi::HRESULT Win32WmiProvider::CreateLocator(std::unique_ptr<WmiLocator>* locator) {
  if (locator == nullptr) return E_POINTER;
  ComRef<IWbemLocator> result;
  const HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, reinterpret_cast<void**>(result.receive()));
  if (FAILED(hr)) return hr;
  if (!result) return E_NOINTERFACE;
  *locator = std::make_unique<Win32WmiLocator>(std::move(result));
  return hr;
}

wmi::HRESULT Win32WmiProvider::CreateUnsecuredApartment(
    std::unique_ptr<WmiUnsecuredApartment>* apartment) {
  if (apartment == nullptr) return E_POINTER;
  ComRef<IUnsecuredApartment> result;
  const HRESULT hr = CoCreateInstance(CLSID_UnsecuredApartment, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IUnsecuredApartment,
                                      reinterpret_cast<void**>(result.receive()));
  if (FAILED(hr)) return hr;
  if (!result) return E_NOINTERFACE;
  *apartment = std::make_unique<Win32UnsecuredApartment>(std::move(result));
  return hr;
}

wmi::HRESULT FromComVariant(const VARIANT& in, Variant* out) {
  if (out == nullptr) return E_POINTER;
  Variant v;
  switch (V_VT(&in)) {
    case VT_EMPTY:
      break;
    case VT_NULL:
      v = Variant::Null();
      break;
    case VT_I1:
      v = Variant::I4(V_I1(&in));
      break;
    case VT_I2:
      v = Variant::I4(V_I2(&in));
      break;
    case VT_I4:
      v = Variant::I4(V_I4(&in));
      break;
    case VT_INT:
      v = Variant::I4(V_INT(&in));
      break;
    case VT_UI1:
      v = Variant{VarType::kUI1, V_UI1(&in), {}, {}};
      break;
    case VT_UI2:
      v = Variant::UI4(V_UI2(&in));
      break;
    case VT_UI4:
      v = Variant::UI4(V_UI4(&in));
      break;
    case VT_UINT:
      v = Variant::UI4(V_UINT(&in));
      break;
    case VT_I8:
      v = Variant{VarType::kI8, static_cast<uint64_t>(V_I8(&in)), {}, {}};
      break;
    case VT_UI8:
      v = Variant::UI8(V_UI8(&in));
      break;
    case VT_BOOL:
      v = Variant{VarType::kBool, V_BOOL(&in) != VARIANT_FALSE ? 1u : 0u, {}, {}};
      break;
    case VT_BSTR: {
      const BSTR b = V_BSTR(&in);
      v = Variant::Text(b == nullptr ? std::string()
                                     : FromWide(std::wstring_view(b, SysStringLen(b))));
      break;
    }
    case VT_ARRAY | VT_UI1: {
      std::vector<uint8_t> bytes;
      const HRESULT hr = CopyByteArray(V_ARRAY(&in), &bytes);
      if (FAILED(hr)) return hr;
      v = Variant::Bytes(std::move(bytes));
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  *out = std::move(v);
  return S_OK;
}

wmi::HRESULT ToComVariant(const Variant& in, VARIANT* out) {
  if (out == nullptr) return E_POINTER;
  VariantInit(out);
  switch (in.type) {
    case VarType::kEmpty:
      return S_OK;
    case VarType::kNull:
      V_VT(out) = VT_NULL;
      return S_OK;
    case VarType::kI4:
      V_VT(out) = VT_I4;
      V_I4(out) = static_cast<LONG>(static_cast<int32_t>(in.bits));
      return S_OK;
    case VarType::kUI1:
      V_VT(out) = VT_UI1;
      V_UI1(out) = static_cast<BYTE>(in.bits);
      return S_OK;
    case VarType::kUI4:
      V_VT(out) = VT_UI4;
      V_UI4(out) = static_cast<ULONG>(in.bits);
      return S_OK;
    case VarType::kI8:
      V_VT(out) = VT_I8;
      V_I8(out) = static_cast<LONGLONG>(in.bits);
      return S_OK;
    case VarType::kUI8:
      V_VT(out) = VT_UI8;
      V_UI8(out) = static_cast<ULONGLONG>(in.bits);
      return S_OK;
    case VarType::kBool:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = in.bits != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VarType::kBstr: {
      const std::wstring wide = ToWide(in.text);
      const BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (b == nullptr) return E_OUTOFMEMORY;
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = b;
      return S_OK;
    }
    case VarType::kUI1Array: {
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(in.bytes.size()));
      if (array == nullptr) return E_OUTOFMEMORY;
      if (!in.bytes.empty()) {
        void* data = nullptr;
        const HRESULT hr = SafeArrayAccessData(array, &data);
        if (FAILED(hr)) {
          SafeArrayDestroy(array);
          return hr;
        }
        std::memcpy(data, in.bytes.data(), in.bytes.size());
        SafeArrayUnaccessData(array);
      }
      V_VT(out) = VT_ARRAY | VT_UI1;
      V_ARRAY(out) = array;
      return S_OK;
    }
  }
  return DISP_E_BADVARTYPE;
}

}  // namespace platform::win32
