#include "port_emulation.h"

#include <cstring>

namespace {

const uint16_t kAddressPort = 0xCF8;
const uint16_t kDataPort = 0xCFC;

bool IsPrefix(uint8_t b)
{
    switch (b) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:  // segments
    case 0x66: case 0x67: case 0xF0: case 0xF2: case 0xF3:
        return true;
    default:
        return false;
    }
}

// The lock is held for one access only; the program runs one thread, so it
// is practically never contended.
void Lock(VmShared& vm)
{
    while (__sync_lock_test_and_set(&vm.lock, 1)) {
    }
}

void Unlock(VmShared& vm)
{
    __sync_lock_release(&vm.lock);
}

uint32_t WidthMask(uint8_t size)
{
    return size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
}

}  // namespace

bool DecodeIoInstruction(const uint8_t* bytes, size_t count, IoInstruction& io)
{
    size_t i = 0;
    bool operandSize16 = false, rep = false;
    while (i < count && i < 14 && IsPrefix(bytes[i])) {
        if (bytes[i] == 0x66) operandSize16 = true;
        if (bytes[i] == 0xF2 || bytes[i] == 0xF3) rep = true;
        ++i;
    }
    if (i >= count) return false;
    const uint8_t op = bytes[i++];
    io = IoInstruction();
    const uint8_t wide = operandSize16 ? 2 : 4;
    switch (op) {
    case 0xE4: case 0xE5: case 0xE6: case 0xE7:
        if (i >= count) return false;
        io.flags = kIoImmediate;
        io.immediatePort = bytes[i++];
        io.isIn = op <= 0xE5;
        io.size = (op & 1) ? wide : 1;
        break;
    case 0xEC: case 0xED: case 0xEE: case 0xEF:
        io.isIn = op <= 0xED;
        io.size = (op & 1) ? wide : 1;
        break;
    case 0x6C: case 0x6D: case 0x6E: case 0x6F:
        io.flags = kIoString | (rep ? uint32_t(kIoRep) : 0u);
        io.isIn = op <= 0x6D;
        io.size = (op & 1) ? wide : 1;
        break;
    default:
        return false;
    }
    io.length = static_cast<uint8_t>(i);
    return true;
}

void EmulateIo(VmShared& vm, const IoInstruction& io, const uint8_t* bytes, IoRegisters& regs)
{
    const uint16_t port =
        (io.flags & kIoImmediate) ? io.immediatePort : static_cast<uint16_t>(regs.edx & 0xFFFF);
    const bool legal = io.size == 4 && !(io.flags & kIoString) &&
                       (port == kAddressPort || port == kDataPort);
    const uint32_t mask = WidthMask(io.size);

    Lock(vm);
    uint32_t value;
    if (io.isIn) {
        value = legal ? PciMachinePortIn32(vm.machine, port) : mask;
        if (!(io.flags & kIoString)) regs.eax = (regs.eax & ~mask) | (value & mask);
        ++vm.inCount;
        if (legal && port == kDataPort) ++vm.configReads;
        if (legal && port == kAddressPort) ++vm.addressReads;
    } else {
        value = (io.flags & kIoString) ? 0 : regs.eax & mask;
        if (legal && port == kDataPort) {
            uint32_t bus, devFn, reg;
            const bool enabled = DecodeConfigAddress(vm.machine.addressLatch, bus, devFn, reg);
            if (vm.configWrites < kVmMaxConfigWrites) {
                VmConfigWrite& w = vm.writes[vm.configWrites];
                w.address = vm.machine.addressLatch;
                w.present = enabled && PciMachineHasFunction(vm.machine, bus, devFn);
                w.oldValue = enabled ? PciMachineReadConfig(vm.machine, bus, devFn, reg)
                                     : 0xFFFFFFFFu;
                w.newValue = value;
                w.accessIndex = vm.accessCount;
                w.readsBefore = vm.configReads;
            }
            ++vm.configWrites;
        }
        if (legal && port == kAddressPort) ++vm.addressWrites;
        if (legal) PciMachinePortOut32(vm.machine, port, value);
        ++vm.outCount;
    }
    if (vm.accessCount < kVmLogCapacity) {
        VmAccess& a = vm.log[vm.accessCount];
        a.port = port;
        a.op = io.isIn ? kVmIn : kVmOut;
        a.size = io.size;
        a.value = value & mask;
    }
    if (!legal) {
        if (vm.illegalCount < kVmMaxIllegal) {
            VmIllegal& bad = vm.illegal[vm.illegalCount];
            bad.eip = regs.eip;
            std::memcpy(bad.bytes, bytes, sizeof bad.bytes);
            bad.port = port;
            bad.op = io.isIn ? kVmIn : kVmOut;
            bad.size = io.size;
            bad.value = value & mask;
            bad.flags = io.flags;
        }
        ++vm.illegalCount;
    }
    // Written last: a reader that sees the new count sees the entry.
    __sync_synchronize();
    ++vm.accessCount;
    Unlock(vm);

    if ((io.flags & kIoString) && (io.flags & kIoRep)) regs.ecx = 0;
    regs.eip += io.length;
}
