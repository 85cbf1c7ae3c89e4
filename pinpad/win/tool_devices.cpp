#include "tool_devices.h"

#include <cstring>

#include "csp.h"
#include "csp_api.h"
#include "settings.h"
#include "tool_rules.h"

namespace VKey {
namespace {

namespace tk = koba::token;
namespace cs = koba::csp;

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return module != nullptr
             ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)))
             : nullptr;
}

uint32_t Handle(uint32_t slot) {
  return slot | tk::kTokenHandleFlag;
}

std::vector<ToolContainer> ReadContainers(uint32_t slot) {
  std::vector<uint8_t> list(cs::kBatchListCapacity);
  std::vector<uint8_t> types(cs::kBatchEntries);
  std::vector<uint8_t> specs(cs::kBatchEntries);
  std::vector<uint8_t> kinds(cs::kBatchEntries);
  cs::BatchRecord record{};
  record.slot = slot;
  record.list = list.data();
  record.list_length = static_cast<uint32_t>(list.size());
  record.key_types = types.data();
  record.key_specs = specs.data();
  record.certificate_kinds = kinds.data();
  std::vector<ToolContainer> containers;
  if (cs::SystemCsp().ListKeyBatch(&record) != 0) {
    return containers;
  }
  const size_t count = std::min<size_t>(record.count, cs::kBatchEntries);
  const std::vector<std::string> names =
      ContainerNames(std::string_view(reinterpret_cast<const char*>(list.data()),
                                      std::min<size_t>(record.list_length, list.size())),
                     count);
  for (size_t i = 0; i < names.size(); ++i) {
    ToolContainer container;
    container.name = names[i];
    container.keySpec = specs[i];
    container.keyType = types[i];
    std::vector<uint8_t> certificate;
    if (cs::SystemCsp().GetUserKeyCertificate(ContainerPath(slot, names[i]), specs[i],
                                              &certificate) == 0) {
      container.certificate = std::move(certificate);
    }
    containers.push_back(std::move(container));
  }
  return containers;
}

}  // namespace

ToolToken::ToolToken()
    : module_(LoadLibraryW(koba::settings::SystemLibraryPath(L"Q2Token_koba.dll").c_str())) {
  const HMODULE m = module_.get();
  const auto slots = Resolve<tk::PFN_VexloT_GetSlotList>(m, "VexloT_GetSlotList");
  getDeviceInfo = Resolve<tk::PFN_VexloT_GetDeviceInfo>(m, "VexloT_GetDeviceInfo");
  manTokenParam = Resolve<tk::PFN_VexloT_ManTokenParam>(m, "VexloT_ManTokenParam");
  login = Resolve<tk::PFN_VexloT_Login>(m, "VexloT_Login");
  changePin = Resolve<tk::PFN_VexloT_ChangePin>(m, "VexloT_ChangePin");
  if (getDeviceInfo != nullptr && manTokenParam != nullptr && login != nullptr &&
      changePin != nullptr) {
    getSlotList = slots;
  }
}

std::string ContainerPath(uint32_t slot, const std::string& name) {
  return cs::ReaderPath(slot) + name;
}

bool ReadDeviceInfo(const ToolToken& token, uint32_t slot, uint32_t flags,
                    std::vector<uint8_t>* record) {
  if (!token.bound()) {
    return false;
  }
  record->assign(tk::devinfo::kReserve, 0);
  return token.getDeviceInfo(slot, flags, record->data()) == 0;
}

bool EnumerateDevices(const ToolToken& token, std::vector<ToolDevice>* devices) {
  if (!token.bound()) {
    return false;
  }
  uint32_t slots[tk::kSlotListCapacity] = {};
  uint32_t count = tk::kSlotListCount;
  if (token.getSlotList(1, slots, &count) != 0) {
    return false;
  }
  std::vector<ToolDevice> found;
  for (uint32_t i = 0; i < std::min<uint32_t>(count, tk::kSlotListCount); ++i) {
    std::vector<uint8_t> info;
    if (!ReadDeviceInfo(token, slots[i], 0, &info)) {
      continue;
    }
    ToolDevice device;
    device.slot = slots[i];
    char identifier[tk::kIdentifierStringCapacity + 1] = {};
    if (token.manTokenParam(Handle(slots[i]), tk::kParamIdentifierString, identifier) == 0) {
      device.identifier =
          std::string(identifier, strnlen(identifier, tk::kIdentifierStringCapacity));
    }
    uint32_t mode = 0;
    if (token.manTokenParam(Handle(slots[i]), tk::kParamUsbModeRead, &mode) == 0) {
      device.usbMode = mode;
    }
    device.serial = TrimTrailingSpaces(
        std::string_view(reinterpret_cast<const char*>(info.data() + tk::devinfo::kSerial),
                         tk::devinfo::kSerialSize));
    device.label = TrimTrailingSpaces(
        std::string_view(reinterpret_cast<const char*>(info.data() + tk::devinfo::kLabel),
                         tk::devinfo::kLabelSize - 1));
    device.containers = ReadContainers(slots[i]);
    token.manTokenParam(Handle(slots[i]), tk::kParamContainersRead, nullptr);
    found.push_back(std::move(device));
  }
  *devices = std::move(found);
  return true;
}

uint32_t DeleteContainer(const ToolToken& token, const ToolDevice& device,
                         const ToolContainer& container) {
  if (token.bound()) {
    token.manTokenParam(device.slot, tk::kParamResetAfterFailure, nullptr);
  }
  uint32_t adminFlag = 0;
  if (token.bound() &&
      token.manTokenParam(Handle(device.slot), tk::kParamAdminFlag, &adminFlag) != 0) {
    adminFlag = 0;
  }
  if (adminFlag == 0) {
    return cs::SystemCsp().DeleteContainerKey(ContainerPath(device.slot, container.name),
                                              container.keySpec);
  }
  std::vector<uint8_t> list(cs::kBatchListCapacity);
  uint8_t types[cs::kBatchEntries] = {static_cast<uint8_t>(container.keyType)};
  uint8_t specs[cs::kBatchEntries] = {static_cast<uint8_t>(container.keySpec)};
  const size_t length = std::min<size_t>(container.name.size(), 255);
  list[0] = static_cast<uint8_t>(length);
  std::memcpy(list.data() + 1, container.name.data(), length);
  cs::BatchRecord record{};
  record.slot = device.slot;
  record.list = list.data();
  record.list_length = static_cast<uint32_t>(length + 2);
  record.count = 1;
  record.key_types = types;
  record.key_specs = specs;
  return cs::SystemCsp().DeleteKeyBatch(&record);
}

}  // namespace VKey
