// Device behaviour shared by the stand-ins: finding the key behind a handle, the tester's
// scripted faults and button presses, and the virtual key's device operations.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/token_api.h"
#include "store.h"

namespace vkey {

inline uint32_t SlotOf(uint32_t handle) {
  return handle & ~koba::token::kTokenHandleFlag;
}

// Runs `op` on the present key in `slot` (a handle with or without the handle flag) inside one
// store transaction. A fault scripted for `entry` on that key fires first: the call fails with
// its status (a removal fault pulls the key out and fails with the no-device status). `op`
// sets `dirty` when it changed the key. A missing key gives kStatusNoDevice; a store that
// cannot be used gives kStatusDeviceError.
uint32_t WithKey(const char* entry, uint32_t slot,
                 const std::function<uint32_t(Store&, Key&, bool& dirty)>& op);

// Fires a fault scripted for `entry` on `key`; returns 0 when none is scripted.
uint32_t TakeFault(Store& store, Key& key, const char* entry, bool* dirty);

// Pulls a key out (as when the USB key is unplugged): logged out, not present.
void RemoveKey(Store& store, Key& key);
void InsertKey(Store& store, Key& key);

// What the user does on the key's button.
enum class Press { kConfirm, kRefuse, kTimeout, kGone };

// Waits for the next scripted button press of the key in `slot`. "pending:N" entries keep the
// device busy for N polls (the store is unlocked between polls, so a tester can pull the key
// out meanwhile); the poll period is KOBA_VKEY_POLL_MS milliseconds (default 100).
Press AwaitPress(uint32_t slot);

// Key generation takes its time as the script says: leading "pending:N" entries keep the key
// busy for N polls each (unlocked, so a tester can pull the key out); other entries stay for
// the next press. False when the key is gone.
bool AwaitBusy(uint32_t slot);

// Validates a press script entry ("confirm", "refuse", "timeout", "pending:N").
bool IsValidPress(const std::string& press);

// Lays out a new key with fresh serial and identifier; returns it (already in the store).
Key& AddKey(Store& store, const std::string& serial, bool admin);

// Adds a key pair to a container (created when missing) under `spec`. Fails (false) when the
// key has no free key id or the container already holds that spec.
bool AddPairToContainer(Key& key, const std::string& container, uint32_t spec, KeyPair pair,
                        uint32_t certificate_kind);

// Stores a certificate with the key pair whose public key it carries; returns false when no
// key pair matches. `kind` replaces the slot's certificate kind when non-zero.
bool ImportCertificate(Key& key, const Bytes& der, uint32_t kind, std::string* container,
                       std::string* error);

// Deletes a container's key under `spec` (and the container once it is empty), with the key
// pair and its objects.
bool DeleteContainerKey(Key& key, const std::string& container, uint32_t spec);

// Fills the 577-byte device-information record.
void FillDeviceInfo(const Key& key, uint8_t* record);

}  // namespace vkey
