// FindAgpFunction: scan order, absent functions, the capability walk
// before the class test, and the bound on the walk.
#include "hw_test_util.h"

namespace {

using DiscoveryTest = HwTest;

const PciLocation kUnwritten = 0x13572468;

int32_t Find(AgpFunctionKind kind, PciLocation& location)
{
    location = kUnwritten;
    return FindAgpFunction(kind, location);
}

TEST_F(DiscoveryTest, EmptyBusReadsFunctionZeroOfEveryDeviceOnce)
{
    for (AgpFunctionKind kind : {AgpKindAdapter, AgpKindChipset, static_cast<AgpFunctionKind>(7)}) {
        Bus().ClearAccesses();
        PciLocation location;
        EXPECT_EQ(Find(kind, location), kind == AgpKindAdapter ? AGP_NO_ADAPTER : AGP_NO_CHIPSET);
        EXPECT_EQ(location, kUnwritten);

        std::vector<uint32_t> expected;
        for (uint32_t bus = 0; bus < 256; ++bus)
            for (uint32_t device = 0; device < 32; ++device)
                expected.push_back(PciConfigAddress(bus, DevFn(device, 0), 0x00));
        EXPECT_EQ(ReadAddresses(), expected);
        EXPECT_EQ(Bus().Accesses().size(), 2u * 8192);
        EXPECT_TRUE(ConfigWrites().empty());
    }
}

TEST_F(DiscoveryTest, MatchIsReportedAsTheAddressOfRegisterZero)
{
    struct Case {
        uint32_t bus, device, function;
        PciLocation location;
    } cases[] = {
        {0, 0, 0, 0x80000000},
        {1, 0, 0, 0x80010000},
        {0xFF, 31, 7, 0x80FFFF00},
        {0x12, 5, 3, 0x80122B00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bus << ":" << c.device << "." << c.function);
        std::vector<PciDumpFunction> functions;
        for (uint32_t f = 0; f < c.function; ++f) functions.push_back(Plain(c.bus, c.device, f));
        functions.push_back(AgpAdapter(c.bus, c.device, c.function));
        Load(functions);
        PciLocation location;
        EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
        EXPECT_EQ(location, c.location);
    }
}

TEST_F(DiscoveryTest, FoundFunctionIsReadInOrderAndNothingAfterTheClass)
{
    // Header at 0x50 (ID 1) leads to AGP at 0x60.
    Load({Fn(0, 3, 0, 0x002810DE).Class(0x0300).CapList(0x50).Cap(0x50, 1, 0x60).Agp(0x60, 0, 3, 1)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80001800u);

    std::vector<uint32_t> expected;
    for (uint32_t device = 0; device < 3; ++device) expected.push_back(PciConfigAddress(0, DevFn(device, 0), 0));
    for (uint32_t reg : {0x00, 0x04, 0x34, 0x50, 0x60, 0x08})
        expected.push_back(PciConfigAddress(0, DevFn(3, 0), reg));
    EXPECT_EQ(ReadAddresses(), expected);
}

TEST_F(DiscoveryTest, AbsentIdentificationEndsTheDevice)
{
    // All ones and all zeros both count as absent, at any function number.
    for (uint32_t absentId : {0xFFFFFFFFu, 0x00000000u}) {
        for (uint32_t absentFunction : {0u, 1u, 5u}) {
            SCOPED_TRACE(::testing::Message() << std::hex << "id " << absentId << " function "
                                              << absentFunction);
            std::vector<PciDumpFunction> functions;
            for (uint32_t f = 0; f < absentFunction; ++f) functions.push_back(Plain(0, 4, f));
            functions.push_back(Fn(0, 4, absentFunction, absentId));
            for (uint32_t f = absentFunction + 1; f < 8; ++f) functions.push_back(AgpAdapter(0, 4, f));
            Load(functions);

            PciLocation location;
            EXPECT_EQ(Find(AgpKindAdapter, location), AGP_NO_ADAPTER);
            // Functions below the absent one are read fully (no capability
            // list: 0x00 and 0x04); the absent one once; none above it.
            EXPECT_EQ(CountReadsOf(0, DevFn(4, absentFunction)), 1u);
            for (uint32_t f = absentFunction + 1; f < 8; ++f)
                EXPECT_EQ(CountReadsOf(0, DevFn(4, f)), 0u) << "function " << f;
            EXPECT_EQ(ReadAddresses().size(), 8192u + 2 * absentFunction);
        }
    }
}

TEST_F(DiscoveryTest, AdapterBehindAnAbsentFunctionOneIsNotFoundButTheNextDeviceIs)
{
    // Function 1 missing from device 2; an adapter at function 2 there and
    // another one in device 3.
    Load({Plain(0, 2, 0), AgpAdapter(0, 2, 2), AgpAdapter(0, 3, 0)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80001800u);
    EXPECT_EQ(CountReadsOf(0, DevFn(2, 2)), 0u);
}

TEST_F(DiscoveryTest, CapabilityListWithoutAgpEndsTheDevice)
{
    // Function 0 has a list (one header, no AGP); function 1 is the adapter.
    Load({Fn(0, 2, 0).Class(0x0300).CapList(0x50).Cap(0x50, 1, 0), AgpAdapter(0, 2, 1)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_NO_ADAPTER);
    EXPECT_EQ(CountReadsOf(0, DevFn(2, 1)), 0u);
    // The class of function 0 was never looked at: the walk comes first.
    for (uint32_t address : ReadAddresses())
        EXPECT_NE(address, PciConfigAddress(0, DevFn(2, 0), 0x08));
}

TEST_F(DiscoveryTest, ClearCapabilityListBitMovesOnToTheNextFunction)
{
    // Function 0 would be an adapter but for its status bit.
    Load({AgpAdapter(0, 2, 0).NoCapList(), AgpAdapter(0, 2, 1)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80001100u);
    // Function 0: 0x00 and 0x04 only.
    EXPECT_EQ(CountReadsOf(0, DevFn(2, 0)), 2u);
}

TEST_F(DiscoveryTest, AgpFunctionOfAnotherClassMovesOnToTheNextFunction)
{
    for (uint32_t otherClass : {0x0380u, 0x0600u, 0x0301u, 0x0000u}) {
        SCOPED_TRACE(::testing::Message() << std::hex << "class " << otherClass);
        Load({AgpAdapter(0, 2, 0).Class(otherClass), AgpAdapter(0, 2, 1)});
        PciLocation location;
        EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
        EXPECT_EQ(location, 0x80001100u);
    }
}

TEST_F(DiscoveryTest, AnyProgrammingInterfaceAndRevisionMatch)
{
    for (uint32_t low : {0x0000u, 0x00FFu, 0xFF00u, 0xFFFFu, 0x0115u}) {
        SCOPED_TRACE(::testing::Message() << std::hex << "low half " << low);
        Load({AgpAdapter(0, 1, 0).Class(0x0300, low), AgpChipset(0, 2, 0).Class(0x0600, low)});
        PciLocation location;
        EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
        EXPECT_EQ(location, 0x80000800u);
        EXPECT_EQ(Find(AgpKindChipset, location), AGP_OK);
        EXPECT_EQ(location, 0x80001000u);
    }
}

TEST_F(DiscoveryTest, KindDecidesTheClassAndAnyOtherKindIsTheChipset)
{
    Load({AgpAdapter(0, 1, 0), AgpChipset(0, 2, 0)});
    PciLocation location;
    for (uint32_t kind : {2u, 0u, 3u, 7u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(::testing::Message() << "kind " << kind);
        EXPECT_EQ(Find(static_cast<AgpFunctionKind>(kind), location), AGP_OK);
        EXPECT_EQ(location, 0x80001000u);
    }
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80000800u);

    Load({AgpAdapter(0, 1, 0)});
    EXPECT_EQ(Find(static_cast<AgpFunctionKind>(7), location), AGP_NO_CHIPSET);
    EXPECT_EQ(location, kUnwritten);
    Load({AgpChipset(0, 2, 0)});
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_NO_ADAPTER);
    EXPECT_EQ(location, kUnwritten);
}

TEST_F(DiscoveryTest, LowestBusThenDeviceThenFunctionWins)
{
    struct Case {
        const char* what;
        std::vector<PciDumpFunction> functions;
        PciLocation location;
    } cases[] = {
        {"bus before device", {AgpAdapter(1, 0, 0), AgpAdapter(0, 31, 0)}, 0x8000F800},
        {"device before function", {Plain(0, 3, 0), AgpAdapter(0, 3, 1), AgpAdapter(0, 2, 0)},
         0x80001000},
        {"function", {Plain(0, 3, 0), AgpAdapter(0, 3, 2), AgpAdapter(0, 3, 1)}, 0x80001900},
        {"bus 0xFF last", {AgpAdapter(0xFF, 0, 0), AgpAdapter(0xFE, 31, 0)}, 0x80FEF800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(c.functions);
        PciLocation location;
        EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
        EXPECT_EQ(location, c.location);
    }
}

TEST_F(DiscoveryTest, CapabilityPointerZeroIsFollowed)
{
    // Register 0x34 holds 0: the identification dword is the first header.
    // Vendor 0x1002 has low byte 2, so it reads as an AGP capability.
    Load({Fn(0, 1, 0, 0x47421002).Class(0x0300).CapList(0x00), AgpAdapter(0, 2, 0)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80000800u);

    // Vendor 0x10DE: ID 0xDE, next 0x10; the header at 0x10 ends the list.
    Load({Fn(0, 1, 0, 0x002810DE).Class(0x0300).CapList(0x00).Set(0x10, 0), AgpAdapter(0, 2, 0)});
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80001000u);
    const std::vector<uint32_t> reads = ReadAddresses();
    const std::vector<uint32_t> device1(reads.begin() + 1, reads.begin() + 6);
    const std::vector<uint32_t> expected = {0x80000800, 0x80000804, 0x80000834, 0x80000800,
                                            0x80000810};
    EXPECT_EQ(device1, expected);
}

TEST_F(DiscoveryTest, MisalignedPointersAreReadAligned)
{
    // 0x34 holds 0x53, header at 0x50 points on with 0x63 to AGP at 0x60.
    Load({Fn(0, 1, 0).Class(0x0300).CapList(0x53).Cap(0x50, 1, 0x63).Agp(0x60, 0, 3, 1)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    const std::vector<uint32_t> reads = ReadAddresses();
    const std::vector<uint32_t> tail(reads.end() - 6, reads.end());
    const std::vector<uint32_t> expected = {0x80000800, 0x80000804, 0x80000834,
                                            0x80000850, 0x80000860, 0x80000808};
    EXPECT_EQ(tail, expected);
}

TEST_F(DiscoveryTest, CycleInTheListSkipsTheDeviceAfterSixtyFourHeaders)
{
    struct Case {
        const char* what;
        Fn function;
    } cases[] = {
        {"header pointing at itself", Fn(0, 1, 0).Class(0x0300).CapList(0x40).Cap(0x40, 1, 0x40)},
        {"two headers pointing at each other",
         Fn(0, 1, 0).Class(0x0300).CapList(0x40).Cap(0x40, 1, 0x50).Cap(0x50, 9, 0x40)},
        {"through register 0x34 read as a header",
         Fn(0, 1, 0).Class(0x0300).CapList(0x40).Cap(0x40, 1, 0x34).Cap(0x34, 0x40, 0x40)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Function 1 of the same device is an adapter that must not be
        // reached; device 2 holds the one that is found.
        Load({c.function, AgpAdapter(0, 1, 1), AgpAdapter(0, 2, 0)});
        PciLocation location;
        EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
        EXPECT_EQ(location, 0x80001000u);
        // 0x00, 0x04, 0x34, then exactly 64 headers; no class read.
        EXPECT_EQ(CountReadsOf(0, DevFn(1, 0)), 3u + 64);
        EXPECT_EQ(CountReadsOf(0, DevFn(1, 1)), 0u);
    }
}

// A list that visits all 64 dwords of the function once: the walk needs
// every one of its 64 headers. Register 0x34 itself is a header in the
// chain (its low byte, the capabilities pointer, doubles as its ID).
Fn SixtyFourHeaderChain(uint32_t lastId)
{
    Fn f(0, 1, 0);
    for (uint32_t i = 0; i < 64; ++i) {
        const uint32_t offset = 4 * i;
        const uint32_t next = (offset + 4) & 0xFF;
        if (offset == 0x34) {
            f.Cap(0x34, 0x00, next);  // pointer 0: the chain starts at 0x00
        } else if (offset == 0x04) {
            f.Cap(0x04, 0x07, next, 0x10);  // status byte with the list bit
        } else if (offset == 0x08) {
            f.Cap(0x08, 0x15, next, 0x0300);  // revision, progIF, class 0x0300
        } else {
            f.Cap(offset, i == 63 ? lastId : 0x01, next);
        }
    }
    return f;
}

TEST_F(DiscoveryTest, SixtyFourHeadersAreReadBeforeTheWalkGivesUp)
{
    // AGP in the 64th header: still found.
    Load({SixtyFourHeaderChain(kAgpCapabilityId)});
    PciLocation location;
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80000800u);
    EXPECT_EQ(CountReadsOf(0, DevFn(1, 0)), 3u + 64 + 1);

    // Not AGP in the 64th either: the 64th points back to 0x00, a cycle.
    Load({SixtyFourHeaderChain(0x01), AgpAdapter(0, 2, 0)});
    EXPECT_EQ(Find(AgpKindAdapter, location), AGP_OK);
    EXPECT_EQ(location, 0x80001000u);
    EXPECT_EQ(CountReadsOf(0, DevFn(1, 0)), 3u + 64);
}

}  // namespace
