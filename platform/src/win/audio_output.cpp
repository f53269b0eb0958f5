// Audio outputs through Core Audio: the active render endpoints, and the default playback
// device through the policy-config interface Windows' own sound settings use. That interface
// is undocumented; its layout below has been stable from Windows 7 to 11, and a failure of
// it is reported, never fatal.
#include "platform/audio_output.h"

#include <windows.h>

#include <mmsystem.h>

#include <mmdeviceapi.h>
#include <mmreg.h>
#include <propidl.h>

#include <cstdio>

#include "utf8.h"

namespace platform {
namespace {

// Own copies of the identifiers, so no import library or INITGUID is needed for them.
const CLSID kMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const PROPERTYKEY kDeviceFriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
const CLSID kPolicyConfigClient = {
    0x870AF99C, 0x171D, 0x4F9E, {0xAF, 0x0D, 0xE6, 0x3D, 0xF4, 0x0C, 0x2B, 0xC9}};
const IID kIPolicyConfig = {
    0xF8679F50, 0x850A, 0x41CF, {0x9C, 0x72, 0x43, 0x0F, 0x29, 0x02, 0x90, 0xC8}};

// Only SetDefaultEndpoint (the eleventh method) is called; the others hold its slot.
struct IPolicyConfig : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMixFormat(PCWSTR, WAVEFORMATEX**) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceFormat(PCWSTR, INT, WAVEFORMATEX**) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetDeviceFormat(PCWSTR) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDeviceFormat(PCWSTR, WAVEFORMATEX*, WAVEFORMATEX*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProcessingPeriod(PCWSTR, INT, PINT64, PINT64) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProcessingPeriod(PCWSTR, PINT64) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShareMode(PCWSTR, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShareMode(PCWSTR, void*) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropertyValue(PCWSTR, const PROPERTYKEY&, PROPVARIANT*) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultEndpoint(PCWSTR deviceId, ERole role) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEndpointVisibility(PCWSTR, INT) = 0;
};

void setError(std::string* error, const std::string& text, HRESULT hr = S_OK) {
  if (!error)
    return;
  *error = text;
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, " (0x%08lX)", static_cast<unsigned long>(hr));
    *error += code;
  }
}

// COM for this call. A thread already in another apartment (Qt's GUI thread is STA) can use
// COM as it is; only our own successful initialisation is undone.
class ComScope {
public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_))
      CoUninitialize();
  }
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
  const HRESULT hr_;
};

template <class T>
class ComRef {
public:
  ComRef() = default;
  ~ComRef() {
    if (p_)
      p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return p_; }
  T** out() { return &p_; }
  void** outVoid() { return reinterpret_cast<void**>(&p_); }

private:
  T* p_ = nullptr;
};

bool listOutputs(std::vector<AudioOutput>* outputs, std::string* error) {
  ComRef<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(kMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIMMDeviceEnumerator,
                                enumerator.outVoid());
  if (FAILED(hr)) {
    setError(error, "Core Audio: no device enumerator", hr);
    return false;
  }
  ComRef<IMMDeviceCollection> devices;
  hr = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.out());
  if (FAILED(hr)) {
    setError(error, "Core Audio: cannot list outputs", hr);
    return false;
  }
  UINT count = 0;
  devices->GetCount(&count);
  for (UINT i = 0; i < count; ++i) {
    ComRef<IMMDevice> device;
    if (FAILED(devices->Item(i, device.out())))
      continue;
    LPWSTR id = nullptr;
    if (FAILED(device->GetId(&id)) || !id)
      continue;
    AudioOutput output;
    output.id = win::toUtf8(id);
    CoTaskMemFree(id);
    ComRef<IPropertyStore> properties;
    if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, properties.out()))) {
      PROPVARIANT name;
      PropVariantInit(&name);
      if (SUCCEEDED(properties->GetValue(kDeviceFriendlyName, &name)) && name.vt == VT_LPWSTR)
        output.name = win::toUtf8(name.pwszVal);
      PropVariantClear(&name);
    }
    if (output.name.empty())
      output.name = output.id;
    outputs->push_back(output);
  }
  return true;
}

}  // namespace

std::vector<AudioOutput> audioOutputs(std::string* error) {
  ComScope com;
  if (!com.usable()) {
    setError(error, "Core Audio: COM unavailable");
    return {};
  }
  std::vector<AudioOutput> outputs;
  if (!listOutputs(&outputs, error))
    return {};
  return outputs;
}

bool setDefaultAudioOutput(const std::string& id, std::string* error) {
  if (id.empty()) {
    setError(error, "no audio output given");
    return false;
  }
  ComScope com;
  if (!com.usable()) {
    setError(error, "Core Audio: COM unavailable");
    return false;
  }
  std::vector<AudioOutput> outputs;
  if (!listOutputs(&outputs, error))
    return false;
  bool known = false;
  for (const AudioOutput& output : outputs)
    known = known || output.id == id;
  if (!known) {
    setError(error, "no audio output named " + id);
    return false;
  }
  ComRef<IPolicyConfig> policy;
  HRESULT hr =
      CoCreateInstance(kPolicyConfigClient, nullptr, CLSCTX_ALL, kIPolicyConfig, policy.outVoid());
  if (FAILED(hr)) {
    setError(error, "Core Audio: the default device cannot be changed here", hr);
    return false;
  }
  const std::wstring wide = win::toWide(id);
  // The sound settings set all three roles; players pick their device by any of them.
  for (ERole role : {eConsole, eMultimedia, eCommunications}) {
    hr = policy->SetDefaultEndpoint(wide.c_str(), role);
    if (FAILED(hr)) {
      setError(error, "Core Audio: refused the default output", hr);
      return false;
    }
  }
  return true;
}

}  // namespace platform
