// The registry and both kinds of declaration, with test classes declared in this executable the way the module
// declares its objects, driven through the create and destroy sequences the exports run.
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

constexpr GUID IID_ITestOnly = MakeInterfaceId(0x0123456789ABCDEFull, 0xFEDCBA9876543210ull);

template <typename Tag>
struct Live {
    static inline int count = 0;
    Live() { ++count; }
    ~Live() { --count; }
};

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

// Shaped like the loader: the root and its own ID, not IBaseObject.
class Shared final : public IQvBaseInterface, public Live<Shared> {
public:
    void* QueryInterface(const GUID& iid) override {
        return SameInterfaceId(iid, IID_IQvBaseInterface) || SameInterfaceId(iid, IID_ITestOnly) ? this : nullptr;
    }
};

constexpr wchar_t kWidget[] = L"Test.Widget";
constexpr wchar_t kShared[] = L"Test.Shared";

struct Declarations {
    ExportedObjectDeclaration<Widget> widget{kWidget};
    ExportedSingletonDeclaration<Shared> shared{kShared};
};

void* Create(const wchar_t* name, const GUID& iid, unsigned long expected = ERROR_SUCCESS) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateObjectByName(name, iid, &object), expected);
    EXPECT_EQ(object == nullptr, expected != ERROR_SUCCESS);
    return object;
}

class Registry : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
        declarations_ = std::make_unique<Declarations>();
    }
    // The last declaration frees the registry and every object still held by a singleton.
    void TearDown() override {
        declarations_.reset();
        EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
        EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 0);
        EXPECT_EQ(Live<Widget>::count, 0);
        EXPECT_EQ(Live<Shared>::count, 0);
    }
    std::unique_ptr<Declarations> declarations_;
};

}  // namespace

TEST_F(Registry, PerCallObjectsGoBackOnlyUnderTheirOwnName) {
    Create(kWidget, IID_IServPlugin, ERROR_NOT_FOUND);
    EXPECT_EQ(Live<Widget>::count, 0) << "the object that refused the ID was kept";
    void* first = Create(kWidget, IID_IBaseObject);
    void* second = Create(kWidget, IID_ITestOnly);
    EXPECT_NE(first, second);
    EXPECT_FALSE(declarations_->widget.HasInstances());
    DestroyObjectByName(kShared, first);  // the singleton's count, not the widget
    DestroyObjectByName(L"Test.Unknown", first);
    DestroyObjectByName(kWidget, nullptr);
    EXPECT_EQ(Live<Widget>::count, 2);
    EXPECT_EQ(Live<Shared>::count, 0);
    DestroyObjectByName(kWidget, first);
    DestroyObjectByName(kWidget, second);
    EXPECT_EQ(Live<Widget>::count, 0);
    EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 2) << "only the declarations hold the registry between calls";
}

TEST_F(Registry, SingletonIsSharedUntilTheLastHolder) {
    void* first = Create(kShared, IID_ITestOnly);
    EXPECT_EQ(Create(kShared, IID_IQvBaseInterface), first);
    EXPECT_TRUE(declarations_->shared.HasInstances());
    Create(kShared, IID_IBaseObject, ERROR_NOT_FOUND);  // refused: the count goes back to two
    DestroyObjectByName(kShared, nullptr);
    EXPECT_EQ(Live<Shared>::count, 1);
    DestroyObjectByName(kShared, first);
    EXPECT_EQ(Live<Shared>::count, 0);
    EXPECT_FALSE(declarations_->shared.HasInstances());
}

TEST_F(Registry, SingletonCountBelowZeroKeepsItUntilUnload) {
    DestroyObjectByName(kShared, nullptr);
    Create(kShared, IID_ITestOnly);
    DestroyObjectByName(kShared, nullptr);
    EXPECT_EQ(Live<Shared>::count, 1) << "a count below 0 must leave the instance alive";
}

TEST_F(Registry, ConstructionFailureLeavesNothingHeld) {
    Widget::fail_construction = true;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_THROW(CreateObjectByName(kWidget, IID_IBaseObject, &object), std::runtime_error);
    Widget::fail_construction = false;
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 2);
    // From another thread, so that a critical section still owned here would block it.
    qv::UniqueHandle thread(CreateThread(
        nullptr, 0, [](void*) -> DWORD { return DestroyObjectByName(kWidget, nullptr), 0; }, nullptr, 0, nullptr));
    ASSERT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0) << "the registry lock was left taken";
}

TEST(RegistryEntries, SecondRegistrationUnderANameIsRefused) {
    struct Counting : IObjectConstructor {
        IQvBaseInterface* Create() override { return ++creates, nullptr; }
        void Destroy(IQvBaseInterface*) override {}
        bool HasInstances() override { return false; }
        int creates = 0;
    } first, second;
    ExportedObjectRegistryRef ref;
    EXPECT_EQ(ref.Get()->Register(L"Test.Name", &first), 0u);
    EXPECT_EQ(ref.Get()->Register(L"Test.Name", &second), static_cast<unsigned long>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ref.Get()->CreateByName(L"Test.Name"), nullptr);
    ref.Get()->Unregister(L"Test.Name");
    EXPECT_EQ(ref.Get()->CreateByName(L"Test.Name"), nullptr);
    EXPECT_EQ(first.creates, 1);
    EXPECT_EQ(second.creates, 0);
    ref.Release();
}

TEST(RegistryEntries, AfterUnloadNothingIsFoundOrLeftBehind) {
    { Declarations gone; }
    EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
    Create(kWidget, IID_IBaseObject, ERROR_NOT_FOUND);
    Widget stray;
    DestroyObjectByName(kWidget, &stray);
    EXPECT_EQ(ExportedObjectRegistryRef::Current(), nullptr);
    EXPECT_EQ(ExportedObjectRegistryRef::UserCount(), 0);
    EXPECT_EQ(Live<Widget>::count, 1);
}
