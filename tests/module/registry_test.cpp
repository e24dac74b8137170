// The registry and the two kinds of declaration, with test classes of our own declared in this executable
// the way the module declares its objects, and driven through the same create and destroy sequences that
// the exports run.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "interfaces/base_object.h"
#include "interfaces/interface_ids.h"
#include "module/exported_object_declaration.h"
#include "module/exported_object_registry.h"
#include "support/unique_resource.h"

using namespace Endpoint::Vorn;

namespace {

// An ID that only the test classes answer.
constexpr GUID IID_ITestOnly = MakeInterfaceId(0x0123456789ABCDEFull, 0xFEDCBA9876543210ull);

// Live objects per class, to see what the declarations made and deleted.
template <typename Tag>
struct Live {
    static inline int count = 0;
    Live() { ++count; }
    ~Live() { --count; }
};

// A per-call object in the shape of the client, service and settings objects.
class Widget final : public IBaseObject, public Live<Widget> {
public:
    static inline bool fail_construction = false;
    Widget() {
        if (fail_construction) {
            throw std::runtime_error("construction failed");
        }
    }
    void* QueryInterface(const GUID& iid) override {
        return SameInterfaceId(iid, IID_ITestOnly) ? this : IBaseObject::QueryInterface(iid);
    }
    unsigned long Init() override { return 0; }
    void Uninit() override {}
};

class Gadget final : public IBaseObject, public Live<Gadget> {
public:
    unsigned long Init() override { return 0; }
    void Uninit() override {}
};

// A shared object in the shape of the loader: answers the root and its own ID, not IBaseObject.
class Shared final : public IQvBaseInterface, public Live<Shared> {
public:
    void* QueryInterface(const GUID& iid) override {
        return SameInterfaceId(iid, IID_IQvBaseInterface) || SameInterfaceId(iid, IID_ITestOnly) ? this : nullptr;
    }
};

constexpr wchar_t kWidget[] = L"Test.Widget";
constexpr wchar_t kGadget[] = L"Test.Gadget";
constexpr wchar_t kShared[] = L"Test.Shared";

// The declarations as a module holds them; destroyed at the end of each test, which also frees the registry.
struct Declarations {
    ExportedObjectDeclaration<Widget> widget{kWidget};
    ExportedSingletonDeclaration<Shared> shared{kShared};
    ExportedObjectDeclaration<Gadget> gadget{kGadget};
};

class RegistryTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
        declarations_ = std::make_unique<Declarations>();
    }
    void TearDown() override {
        declarations_.reset();
        EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
        EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 0);
        EXPECT_EQ(Live<Widget>::count, 0);
        EXPECT_EQ(Live<Gadget>::count, 0);
        EXPECT_EQ(Live<Shared>::count, 0);
        Widget::fail_construction = false;
    }

    static void* Create(const wchar_t* name, const GUID& iid, unsigned long expected = ERROR_SUCCESS) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(CreateObjectByName(name, iid, &object), expected);
        EXPECT_EQ(object == nullptr, expected != ERROR_SUCCESS);
        return object;
    }

    std::unique_ptr<Declarations> declarations_;
};

}  // namespace

TEST_F(RegistryTest, PerCallDeclarationMakesANewObjectForEveryCreate) {
    void* first = Create(kWidget, IID_IBaseObject);
    void* second = Create(kWidget, IID_ITestOnly);
    EXPECT_NE(first, second);
    EXPECT_EQ(Live<Widget>::count, 2);
    EXPECT_FALSE(declarations_->widget.HasInstances());
    DestroyObjectByName(kWidget, first);
    EXPECT_EQ(Live<Widget>::count, 1);
    DestroyObjectByName(kWidget, second);
    EXPECT_EQ(Live<Widget>::count, 0);
    // Only the declarations hold the registry between calls.
    EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 3);
}

TEST_F(RegistryTest, SingletonIsSharedAndDeletedWhenTheLastHolderGivesItBack) {
    void* first = Create(kShared, IID_ITestOnly);
    void* second = Create(kShared, IID_IQvBaseInterface);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Live<Shared>::count, 1);
    EXPECT_TRUE(declarations_->shared.HasInstances());
    DestroyObjectByName(kShared, nullptr);  // the pointer is not looked at
    EXPECT_EQ(Live<Shared>::count, 1);
    DestroyObjectByName(kShared, second);
    EXPECT_EQ(Live<Shared>::count, 0);
    EXPECT_FALSE(declarations_->shared.HasInstances());
    void* again = Create(kShared, IID_ITestOnly);
    EXPECT_EQ(Live<Shared>::count, 1);
    DestroyObjectByName(kShared, again);
}

TEST_F(RegistryTest, SingletonCountBelowZeroKeepsTheNextInstanceUntilItsDeclarationGoes) {
    DestroyObjectByName(kShared, nullptr);
    EXPECT_EQ(Live<Shared>::count, 0);
    void* object = Create(kShared, IID_ITestOnly);
    EXPECT_EQ(Live<Shared>::count, 1);
    DestroyObjectByName(kShared, object);
    EXPECT_EQ(Live<Shared>::count, 1) << "a count below 0 must leave the instance alive";
    EXPECT_FALSE(declarations_->shared.HasInstances());
    // TearDown checks that destroying the declaration deletes it whatever the count.
}

TEST_F(RegistryTest, RefusedInterfaceGivesTheObjectBack) {
    Create(kWidget, IID_IServPlugin, ERROR_NOT_FOUND);
    EXPECT_EQ(Live<Widget>::count, 0);

    // The singleton's count returns to where it was: one holder, so one destroy deletes it.
    void* held = Create(kShared, IID_ITestOnly);
    Create(kShared, IID_IBaseObject, ERROR_NOT_FOUND);
    EXPECT_EQ(Live<Shared>::count, 1);
    DestroyObjectByName(kShared, held);
    EXPECT_EQ(Live<Shared>::count, 0);
}

TEST_F(RegistryTest, DestroyUnderAnotherNameOrWithNullIsIgnored) {
    void* widget = Create(kWidget, IID_IBaseObject);
    DestroyObjectByName(kGadget, widget);
    DestroyObjectByName(L"Test.Unknown", widget);
    DestroyObjectByName(kWidget, nullptr);
    EXPECT_EQ(Live<Widget>::count, 1);
    EXPECT_EQ(static_cast<IBaseObject*>(widget)->Init(), 0u);
    DestroyObjectByName(kWidget, widget);
    EXPECT_EQ(Live<Widget>::count, 0);
}

// A failing constructor leaves the registry's lock free and the call's hold given back.
TEST_F(RegistryTest, ConstructionFailureLeavesTheRegistryUsable) {
    Widget::fail_construction = true;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_THROW(CreateObjectByName(kWidget, IID_IBaseObject, &object), std::runtime_error);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 3);
    Widget::fail_construction = false;

    // From another thread, so that a critical section still owned here would block it.
    struct Attempt {
        static DWORD WINAPI Run(void*) {
            void* made = nullptr;
            if (CreateObjectByName(kGadget, IID_IBaseObject, &made) != ERROR_SUCCESS) {
                return 1;
            }
            DestroyObjectByName(kGadget, made);
            return 0;
        }
    };
    qv::UniqueHandle thread(CreateThread(nullptr, 0, Attempt::Run, nullptr, 0, nullptr));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0) << "the registry lock was left taken";
    DWORD code = 2;
    GetExitCodeThread(thread.get(), &code);
    EXPECT_EQ(code, 0u);
}

TEST(Registry, SecondRegistrationOfANameIsRefusedAndTheFirstStays) {
    struct Constructor : IObjectConstructor {
        IQvBaseInterface* Create() override {
            ++creates;
            return nullptr;
        }
        void Destroy(IQvBaseInterface*) override {}
        bool HasInstances() override { return false; }
        int creates = 0;
    } first, second;
    ExportedObjectRegistryRef ref;
    EXPECT_EQ(ref.Get()->Register(L"Test.Name", &first), 0u);
    EXPECT_EQ(ref.Get()->Register(L"Test.Name", &second), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ref.Get()->CreateByName(L"Test.Name"), nullptr);
    EXPECT_EQ(first.creates, 1);
    EXPECT_EQ(second.creates, 0);
    ref.Get()->Unregister(L"Test.Name");
    EXPECT_EQ(ref.Get()->CreateByName(L"Test.Name"), nullptr);
    EXPECT_EQ(first.creates, 1);
    ref.Release();
    EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
}

TEST(Registry, NamesOrderByUnsignedUtf16CodeUnitsWithPrefixesFirst) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool a_first;
    };
    const Case cases[] = {
        {L"Vorn.AL", L"Vorn.Client", true},
        {L"Vorn", L"Vorn.AL", true},  // a proper prefix sorts first
        {L"Vorn.AL", L"Vorn", false},
        {L"", L"a", true},
        {L"Z", L"a", true},  // by code unit, not by letter
        {L"\x00E9", L"z", false},
        {L"\x7FFF", L"\x8000", true},  // no sign at 0x8000
        {L"\xFFFF", L"\xD800", false},
        {L"\xD800\xDC00", L"\xFFFD", true},  // surrogates are plain code units here
        {L"same", L"same", false},
    };
    ObjectNameLess less;
    for (const Case& c : cases) {
        EXPECT_EQ(less(c.a, c.b), c.a_first)
            << testing::PrintToString(std::wstring(c.a)) << " vs " << testing::PrintToString(std::wstring(c.b));
    }
}

TEST(Registry, CallsAfterEveryDeclarationIsGoneFindNothingAndLeaveNoRegistry) {
    { Declarations gone; }
    ASSERT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateObjectByName(kWidget, IID_IBaseObject, &object), static_cast<unsigned long>(ERROR_NOT_FOUND));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
    Gadget stray;
    DestroyObjectByName(kGadget, &stray);
    EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
    EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 0);
    EXPECT_EQ(Live<Gadget>::count, 1);
}
