// wmi-stress: the broker's WMI calls, made bare on several threads at once, to tell faults of
// the WMI service apart from faults of our own COM usage.
//
// Each operation is what one broker operation does: CoInitializeEx, CoCreateInstance of the WBEM
// locator, ConnectServer, CoSetProxyBlanket, then one of
//   survey    ROOT\CIMV2: ExecQuery Win32_ComputerSystem, Next, Get Model and SystemFamily
//   firmware  ROOT\WMI:   ExecQuery of the firmware class, Next, Get InstanceName
//   smbios    ROOT\WMI:   CreateInstanceEnum MSSMBios_RawSMBiosTables, Next, Get the version
//   volume    ROOT\CIMV2: ExecQuery of the boot-logo volume, Next, Get Name
//   method    ROOT\CIMV2: GetObject StdRegProv, GetMethod, SpawnInstance, Put, ExecMethod
//                         GetStringValue, Get sValue (the firmware call's sequence on a class
//                         every WMI service has)
// then Release of everything and CoUninitialize. Threads take them in turn. Every answer
// is compared with the one a single thread got before the threads started; a difference is a
// wrong answer, a failing call where the reference succeeded is a failure, and access
// violations are counted as they are raised (first chance), whether or not the process lives.
//
// The variants change one thing each, so that a failure can be pinned on it:
//   --apartment mta|sta     the threads' COM apartment (the broker: mta)
//   --share none|thread|process
//                           none: a locator and services per operation (the broker);
//                           thread: one connection per thread, kept for all its operations;
//                           process: one connection made on the main thread and used by all
//                           (correct in the MTA, a cross-apartment use without marshalling
//                           from an STA)
//   --order release-first|uninitialize-first
//                           release the objects, then CoUninitialize (the broker), or the
//                           wrong order
//   --main mta|none         whether the main thread keeps the MTA alive meanwhile (the broker
//                           does: its firmware event subscription holds a connection open)
#include <windows.h>
#undef GetObject
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#undef GetObject

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
  int threads = 8;
  int operations = 200;  // per thread
  bool sta = false;
  enum { kNone, kThread, kProcess } share = kNone;
  bool uninitialize_first = false;
  bool main_holds_mta = true;
  std::vector<int> only;  // thread t runs only[t % size]; empty: every thread takes all in turn
};

std::atomic<long> g_violations{0};
std::atomic<long> g_failures{0};
std::atomic<long> g_wrong{0};
std::atomic<long> g_done{0};

LONG CALLBACK CountViolation(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++g_violations;
  return EXCEPTION_CONTINUE_SEARCH;
}

// What one operation read: its HRESULT and the texts it got, joined.
struct Answer {
  HRESULT hr = S_OK;
  std::wstring text;
  bool operator==(const Answer&) const = default;
};

void AppendProperty(IWbemClassObject* object, const wchar_t* name, Answer* answer) {
  VARIANT v;
  VariantInit(&v);
  const HRESULT hr = object->Get(name, 0, &v, nullptr, nullptr);
  answer->text += name;
  answer->text += L'=';
  if (FAILED(hr)) {
    answer->text += L"(failed)";
  } else if (V_VT(&v) == VT_BSTR && V_BSTR(&v) != nullptr) {
    answer->text += V_BSTR(&v);
  } else {
    answer->text += L"(type " + std::to_wstring(V_VT(&v)) + L")";
  }
  answer->text += L';';
  VariantClear(&v);
}

// One connection as the broker makes it; null with *hr set on failure.
IWbemServices* Connect(const wchar_t* name_space, IWbemLocator** locator, HRESULT* hr) {
  *locator = nullptr;
  *hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                         reinterpret_cast<void**>(locator));
  if (FAILED(*hr)) return nullptr;
  IWbemServices* services = nullptr;
  BSTR resource = SysAllocString(name_space);
  *hr = (*locator)->ConnectServer(resource, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
  SysFreeString(resource);
  if (FAILED(*hr)) return nullptr;
  *hr = CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                          RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(*hr)) {
    services->Release();
    return nullptr;
  }
  return services;
}

// ExecQuery (or CreateInstanceEnum of a class), the first row's Next and the named
// properties: the survey, firmware, SMBIOS and boot-logo paths.
Answer QueryFirstRow(IWbemServices* services, const wchar_t* query,
                     std::initializer_list<const wchar_t*> names, bool whole_class = false) {
  Answer answer;
  BSTR language = SysAllocString(L"WQL");
  BSTR text = SysAllocString(query);
  IEnumWbemClassObject* rows = nullptr;
  answer.hr = whole_class ? services->CreateInstanceEnum(text, 0, nullptr, &rows)
                          : services->ExecQuery(language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                                nullptr, &rows);
  SysFreeString(language);
  SysFreeString(text);
  if (FAILED(answer.hr)) return answer;
  IWbemClassObject* row = nullptr;
  ULONG returned = 0;
  answer.hr = rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, &row, &returned);
  if (returned == 1 && row != nullptr) {
    for (const wchar_t* name : names) AppendProperty(row, name, &answer);
    row->Release();
  }
  rows->Release();
  return answer;
}

// The firmware call's sequence (GetObject, GetMethod, Put, ExecMethod, Get) on StdRegProv.
Answer CallMethod(IWbemServices* services) {
  Answer answer;
  BSTR path = SysAllocString(L"StdRegProv");
  BSTR method = SysAllocString(L"GetStringValue");
  IWbemClassObject* definition = nullptr;
  IWbemClassObject* signature = nullptr;
  IWbemClassObject* in = nullptr;
  IWbemClassObject* out = nullptr;
  answer.hr = services->GetObject(path, 0, nullptr, &definition, nullptr);
  if (SUCCEEDED(answer.hr)) answer.hr = definition->GetMethod(method, 0, &signature, nullptr);
  if (SUCCEEDED(answer.hr)) answer.hr = signature->SpawnInstance(0, &in);
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = static_cast<LONG>(0x80000002);  // HKEY_LOCAL_MACHINE
  if (SUCCEEDED(answer.hr)) answer.hr = in->Put(L"hDefKey", 0, &v, 0);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(L"Software\\Microsoft\\Windows NT\\CurrentVersion");
  if (SUCCEEDED(answer.hr)) answer.hr = in->Put(L"sSubKeyName", 0, &v, 0);
  VariantClear(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(L"ProductName");
  if (SUCCEEDED(answer.hr)) answer.hr = in->Put(L"sValueName", 0, &v, 0);
  VariantClear(&v);
  if (SUCCEEDED(answer.hr)) answer.hr = services->ExecMethod(path, method, 0, nullptr, in, &out, nullptr);
  if (SUCCEEDED(answer.hr) && out != nullptr) AppendProperty(out, L"sValue", &answer);
  for (IWbemClassObject* object : {out, in, signature, definition})
    if (object != nullptr) object->Release();
  SysFreeString(method);
  SysFreeString(path);
  return answer;
}

enum Operation { kSurvey, kFirmware, kMethod, kSmbios, kVolume, kOperations };
const char* const kOperationNames[kOperations] = {"survey", "firmware", "method", "smbios", "volume"};

const wchar_t* NameSpace(int operation) {
  return operation == kFirmware || operation == kSmbios ? L"ROOT\\WMI" : L"ROOT\\CIMV2";
}

Answer Run(int operation, IWbemServices* services) {
  switch (operation) {
    case kSurvey:
      return QueryFirstRow(services, L"SELECT * FROM Win32_ComputerSystem", {L"Model", L"SystemFamily"});
    case kFirmware:
      return QueryFirstRow(services, L"SELECT * FROM CorlanGamingFunction", {L"InstanceName"});
    case kSmbios:
      return QueryFirstRow(services, L"MSSMBios_RawSMBiosTables", {L"SmbiosMajorVersion"}, true);
    case kVolume:
      return QueryFirstRow(services, L"SELECT * FROM Win32_Volume Where Label='ESP'", {L"Name"});
    default:
      return CallMethod(services);
  }
}

// A connection per namespace, for --share thread and process.
struct Connections {
  IWbemLocator* locator[kOperations] = {};
  IWbemServices* services[kOperations] = {};
  HRESULT hr[kOperations] = {};
  void Open() {
    for (int op = 0; op < kOperations; ++op) services[op] = Connect(NameSpace(op), &locator[op], &hr[op]);
  }
  void Close() {
    for (int op = 0; op < kOperations; ++op) {
      if (services[op] != nullptr) services[op]->Release();
      if (locator[op] != nullptr) locator[op]->Release();
      services[op] = nullptr;
      locator[op] = nullptr;
    }
  }
};

void Check(const Answer& got, const Answer& reference) {
  ++g_done;
  if (got == reference) return;
  if (FAILED(got.hr) && SUCCEEDED(reference.hr)) {
    ++g_failures;
  } else {
    ++g_wrong;
  }
  if (g_failures + g_wrong <= 5)
    std::fwprintf(stderr, L"op answered 0x%08lx \"%ls\", expected 0x%08lx \"%ls\"\n",
                  static_cast<unsigned long>(got.hr), got.text.c_str(),
                  static_cast<unsigned long>(reference.hr), reference.text.c_str());
}

void Worker(const Options& options, int index, Connections* shared, const Answer* reference) {
  CoInitializeEx(nullptr, options.sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
  Connections own;
  if (options.share == Options::kThread) own.Open();
  for (int i = 0; i < options.operations; ++i) {
    const int op = !options.only.empty() ? options.only[index % options.only.size()] : (index + i) % kOperations;
    if (options.share == Options::kProcess) {
      Check(Run(op, shared->services[op]), reference[op]);
      continue;
    }
    if (options.share == Options::kThread) {
      Check(own.services[op] != nullptr ? Run(op, own.services[op]) : Answer{own.hr[op], {}}, reference[op]);
      continue;
    }
    // The broker's pattern: everything per operation, COM balanced around it.
    if (i > 0) CoInitializeEx(nullptr, options.sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    IWbemLocator* locator = nullptr;
    HRESULT hr = S_OK;
    IWbemServices* services = Connect(NameSpace(op), &locator, &hr);
    const Answer got = services != nullptr ? Run(op, services) : Answer{hr, {}};
    if (options.uninitialize_first) CoUninitialize();
    if (services != nullptr) services->Release();
    if (locator != nullptr) locator->Release();
    if (!options.uninitialize_first) CoUninitialize();
    Check(got, reference[op]);
  }
  own.Close();
  if (options.share != Options::kNone) CoUninitialize();
}

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return false;
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--threads") {
      options->threads = std::atoi(value.c_str());
    } else if (name == "--ops") {
      options->operations = std::atoi(value.c_str());
    } else if (name == "--apartment" && (value == "mta" || value == "sta")) {
      options->sta = value == "sta";
    } else if (name == "--share" && (value == "none" || value == "thread" || value == "process")) {
      options->share = value == "none" ? Options::kNone : value == "thread" ? Options::kThread : Options::kProcess;
    } else if (name == "--order" && (value == "release-first" || value == "uninitialize-first")) {
      options->uninitialize_first = value == "uninitialize-first";
    } else if (name == "--only") {
      for (size_t start = 0; start <= value.size();) {
        const size_t end = std::min(value.find(',', start), value.size());
        const std::string word = value.substr(start, end - start);
        int op = 0;
        while (op < kOperations && word != kOperationNames[op]) ++op;
        if (op == kOperations) return false;
        options->only.push_back(op);
        start = end + 1;
      }
    } else if (name == "--main" && (value == "mta" || value == "none")) {
      options->main_holds_mta = value == "mta";
    } else {
      return false;
    }
  }
  return options->threads > 0 && options->operations > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: wmi-stress [--threads N] [--ops N] [--apartment mta|sta]\n"
                 "                  [--share none|thread|process] [--order release-first|uninitialize-first]\n"
                 "                  [--main mta|none] [--only OP,OP,...]\n"
                 "  OP: survey firmware method smbios volume; thread t runs the t-th (cyclically)\n");
    return 2;
  }
  AddVectoredExceptionHandler(1, &CountViolation);

  // The reference answers, from this thread alone before any other thread runs.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  Connections shared;
  shared.Open();
  Answer reference[kOperations];
  for (int op = 0; op < kOperations; ++op) {
    reference[op] = shared.services[op] != nullptr ? Run(op, shared.services[op]) : Answer{shared.hr[op], {}};
    std::fwprintf(stdout, L"reference %d: 0x%08lx %ls\n", op, static_cast<unsigned long>(reference[op].hr),
                  reference[op].text.c_str());
  }
  if (options.share != Options::kProcess) shared.Close();
  if (!options.main_holds_mta && options.share != Options::kProcess) CoUninitialize();

  const DWORD started = GetTickCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < options.threads; ++t)
    threads.emplace_back(Worker, std::cref(options), t, &shared, reference);
  for (std::thread& t : threads) t.join();
  const DWORD elapsed = GetTickCount() - started;

  shared.Close();
  if (options.main_holds_mta || options.share == Options::kProcess) CoUninitialize();
  std::printf("operations %ld failures %ld wrong %ld access-violations %ld ms %lu\n", g_done.load(),
              g_failures.load(), g_wrong.load(), g_violations.load(), static_cast<unsigned long>(elapsed));
  std::fflush(stdout);
  return g_failures + g_wrong + g_violations == 0 ? 0 : 1;
}
