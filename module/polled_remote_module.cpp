#include "module/polled_remote_module.h"

#include "platform/log.h"
#include "receiver/device.h"
#include "receiver/key_decoder.h"
#include "trace/traced_poll.h"

namespace kolvane {
namespace {

struct SetupWrite {
  uint32_t offset;
  uint32_t mask;
};

constexpr SetupWrite kSetupWrites[] = {
    {kRegisterControl, kControlSetupMask},
    {kRegisterGpio, kGpioSetupMask},
    {kRegisterReceiver, kReceiverSetupMask},
};

// Sets each write's bits and writes the other bits back as read. Each read
// starts from zero, so a read that fills nothing writes only the mask.
void SetUpRegisters(IDeviceRegisters* registers) {
  for (const SetupWrite& write : kSetupWrites) {
    uint32_t value = 0;
    registers->ReadRegister(write.offset, &value);
    registers->WriteRegister(write.offset, value | write.mask);
  }
}

uint32_t ReadReceiverByte(IDeviceRegisters* registers) {
  uint32_t value = 0;  // a read that fills nothing yields byte 0
  registers->ReadRegister(kRegisterReceiver, &value);
  return (value >> kReceiverByteShift) & kReceiverByteMask;
}

}  // namespace

PolledRemoteModule::PolledRemoteModule(const RemoteKey* table, int32_t tableSize) : keys_(table), keyCount_(tableSize) {
  LogMessage("kolvane: Initializing kolvane.dll remote module.\n");
  LogMessage("kolvane: Polling the tuner's remote receiver every %u ms.\n", static_cast<unsigned>(kPollPeriodMs));
}

HRESULT PolledRemoteModule::Run() {
  const uint32_t startTick = platform::TickCount();
  KeyDecoder decoder(startTick);
  PollTrace trace(binding().trace, startTick);
  if (!EnterPoll()) {  // given up before it began
    trace.End(platform::TickCount(), true);
    return E_UNEXPECTED;
  }
  IDeviceRegisters* registers = nullptr;
  HRESULT result = binding().host->QueryInterface(IID_IDeviceRegisters, reinterpret_cast<void**>(&registers));
  if (result >= 0 && registers == nullptr) result = E_POINTER;  // "success" without an interface
  if (result < 0) {
    const bool givenUp = !LeavePoll();
    trace.End(platform::TickCount(), givenUp);
    return result;
  }

  SetUpRegisters(registers);
  bool stopRequested = false;
  bool givenUp = false;  // by a Stop that could not wait for this thread
  for (;;) {
    if (platform::IsEventSignaled(binding().stopEvent)) {
      stopRequested = true;
      givenUp = !LeavePoll();
      break;
    }
    if (!LeavePoll()) {
      givenUp = true;
      break;
    }
    platform::SleepMs(kPollPeriodMs);
    if (!EnterPoll()) {
      givenUp = true;
      break;
    }

    const uint32_t byte = ReadReceiverByte(registers);
    // A read that blocked past Stop's wait ends the section: the sink it
    // would report to has been given back by then.
    if (!LeavePoll() || !EnterPoll()) {
      givenUp = true;
      break;
    }
    TracedPoll(
        &decoder, byte, platform::TickCount, [this](uint32_t code) { return DispatchKey(code); }, &trace);
  }

  trace.End(platform::TickCount(), givenUp);
  if (stopRequested) LogMessage("kolvane: Break event received. Bye!\n");
  // Run's result is what the register interface's last Release returns, a
  // reference count rather than a result code; the thread routine ignores it.
  return static_cast<HRESULT>(registers->Release());
}

const RemoteKey* PolledRemoteModule::DispatchKey(uint32_t code) {
  IRemoteKeySink* keySink = binding().sink;
  if (keySink == nullptr || keyCount_ <= 0) return nullptr;
  const RemoteKey* key = FindRemoteKey(keys_, keyCount_, code);
  if (key != nullptr) keySink->OnKey(key->name, key->label);
  return key;
}

}  // namespace kolvane
