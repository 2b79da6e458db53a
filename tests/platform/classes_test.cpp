// Core classes: method pointers, component ownership and free notification, streams,
// string lists and Assign.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Classes.h"

// ---- Method pointers ----

namespace {

struct Listener : TObject {   // handlers live on objects, as in the programs
    int hits = 0;
    TObject* last = nullptr;
    void OnA(TObject* s) {
        hits += 1;
        last = s;
    }
    void OnB(TObject* s) {
        hits += 10;
        last = s;
    }
};

void PlainHandler(void* ctx, TObject*) { ++*static_cast<int*>(ctx); }

}  // namespace

TEST(Method, ComparesByObjectAndFunction) {
    Listener a, b;
    TNotifyEvent aA = MakeMethod(&a, &Listener::OnA);
    EXPECT_TRUE(aA == MakeMethod(&a, &Listener::OnA));
    EXPECT_FALSE(aA == MakeMethod(&b, &Listener::OnA));
    EXPECT_FALSE(aA == MakeMethod(&a, &Listener::OnB));
    EXPECT_TRUE(aA != TNotifyEvent());
    EXPECT_EQ(aA.Data(), &a);
    int count = 0, other = 0;
    TNotifyEvent p(&PlainHandler, &count);
    EXPECT_TRUE(p == TNotifyEvent(&PlainHandler, &count));
    EXPECT_FALSE(p == TNotifyEvent(&PlainHandler, &other));
    EXPECT_FALSE(p == aA);
}

TEST(Method, CallsAndClears) {
    Listener a;
    TObject sender;
    TNotifyEvent e = MakeMethod(&a, &Listener::OnB);
    ASSERT_TRUE(bool(e));
    e(&sender);
    EXPECT_EQ(a.hits, 10);
    EXPECT_EQ(a.last, &sender);
    int count = 0;
    TNotifyEvent p(&PlainHandler, &count);
    p(nullptr);
    EXPECT_EQ(count, 1);
    e.Clear();
    EXPECT_FALSE(bool(e));
    EXPECT_TRUE(e == TNotifyEvent());
    // A list of callbacks can find and remove one by value.
    std::vector<TNotifyEvent> list = {MakeMethod(&a, &Listener::OnA), MakeMethod(&a, &Listener::OnB)};
    std::erase(list, MakeMethod(&a, &Listener::OnA));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0] == MakeMethod(&a, &Listener::OnB));
}

// ---- Components ----

namespace {

std::vector<std::string>* g_log = nullptr;

class Probe : public TComponent {
public:
    Probe(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
    ~Probe() override {
        if (g_log) g_log->push_back("free " + Name());
    }
    TComponent* watched = nullptr;
protected:
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op == opRemove && c == watched) watched = nullptr;
        if (g_log) g_log->push_back(Name() + (op == opRemove ? " hears remove " : " hears insert ") + c->Name());
    }
};

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override { g_log = &log; }
    void TearDown() override { g_log = nullptr; }
    std::vector<std::string> log;
    bool Logged(const std::string& s) const { return std::find(log.begin(), log.end(), s) != log.end(); }
};

}  // namespace

TEST_F(ComponentTest, OwnerFreesWhatItOwnsLastFirst) {
    auto* form = new Probe(nullptr, "form");
    auto* a = new Probe(form, "a");
    auto* b = new Probe(form, "b");
    new Probe(b, "b1");
    ASSERT_EQ(form->ComponentCount(), 2);
    EXPECT_EQ(form->Components(0), a);
    EXPECT_EQ(a->Owner(), form);
    log.clear();
    delete form;
    auto pos = [&](const std::string& s) { return std::find(log.begin(), log.end(), s) - log.begin(); };
    ASSERT_TRUE(Logged("free a"));
    ASSERT_TRUE(Logged("free b1"));
    EXPECT_LT(pos("free b"), pos("free a"));
    EXPECT_LT(pos("free b1"), pos("free a"));
}

TEST_F(ComponentTest, FreeingAnOwnedComponentTellsTheWholeFamily) {
    Probe form(nullptr, "form");
    auto* a = new Probe(&form, "a");
    auto* b = new Probe(&form, "b");
    b->watched = a;
    delete a;
    EXPECT_EQ(form.ComponentCount(), 1);
    EXPECT_TRUE(Logged("form hears remove a"));
    EXPECT_TRUE(Logged("b hears remove a"));
    EXPECT_EQ(b->watched, nullptr);
}

TEST_F(ComponentTest, FreeNotificationCrossesOwners) {
    Probe formA(nullptr, "formA"), formB(nullptr, "formB");
    auto* view = new Probe(&formA, "view");
    auto* proc = new Probe(&formB, "proc");
    proc->watched = view;
    view->FreeNotification(proc);
    EXPECT_TRUE(view->ComponentState() & csFreeNotification);
    delete view;
    EXPECT_TRUE(Logged("proc hears remove view"));
    EXPECT_EQ(proc->watched, nullptr);
    // The link is mutual: freeing the listener first leaves nothing dangling.
    auto* view2 = new Probe(&formA, "view2");
    view2->FreeNotification(proc);
    delete proc;
    log.clear();
    delete view2;
    EXPECT_FALSE(Logged("proc hears remove view2"));
}

TEST_F(ComponentTest, RemoveFreeNotificationStopsTheNews) {
    Probe a(nullptr, "a");
    auto* b = new Probe(nullptr, "b");
    b->FreeNotification(&a);
    b->RemoveFreeNotification(&a);
    delete b;
    EXPECT_FALSE(Logged("a hears remove b"));
}

TEST_F(ComponentTest, ComponentsCanChangeOwners) {
    Probe one(nullptr, "one"), two(nullptr, "two");
    auto* c = new Probe(&one, "c");
    two.InsertComponent(c);
    EXPECT_EQ(one.ComponentCount(), 0);
    EXPECT_EQ(two.ComponentCount(), 1);
    EXPECT_EQ(c->Owner(), &two);
    EXPECT_TRUE(Logged("one hears remove c"));
    EXPECT_TRUE(Logged("two hears insert c"));
    two.RemoveComponent(c);
    EXPECT_EQ(c->Owner(), nullptr);
    delete c;
}

// ---- Assign ----

TEST(Persistent, AssignWithoutSupportRaises) {
    TStringList list;
    TPersistent plain;
    try {
        list.Assign(&plain);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot assign a TPersistent to a TStringList"), std::string::npos) << e.what();
    }
    EXPECT_THROW(plain.Assign(nullptr), EConvertError);
}

// ---- Streams ----

namespace {

class FileStreams : public ::testing::Test {
protected:
    void SetUp() override {
        std::string t = GetTempDir() + "gdstreamXXXXXX";
        ASSERT_NE(mkdtemp(t.data()), nullptr);
        dir = t + "/";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string dir;
};

}  // namespace

TEST(MemoryStream, ReadWriteSeekAndShortReads) {
    TMemoryStream m;
    const char text[] = "0123456789";
    EXPECT_EQ(m.Write(text, 10), 10);
    EXPECT_EQ(m.Size(), 10);
    EXPECT_EQ(m.Position(), 10);
    EXPECT_EQ(m.Seek(-4, soEnd), 6);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 4);   // short read: only what is left
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(m.Read(buf, 8), 0);
    m.SetPosition(2);
    EXPECT_EQ(m.Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "234");
    EXPECT_EQ(m.Seek(1, soCurrent), 6);
    m.SetPosition(-3);
    EXPECT_EQ(m.Read(buf, 1), 0);
    EXPECT_EQ(std::memcmp(m.Memory(), text, 10), 0);
}

TEST(MemoryStream, BufferCallsRaiseTheClassLibraryErrors) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(1);
    char buf[4];
    try {
        m.ReadBuffer(buf, 4);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    m.SetPosition(0);
    EXPECT_NO_THROW(m.ReadBuffer(buf, 3));
    EXPECT_NO_THROW(m.ReadBuffer(buf, 0));
    m.SetPosition(-1);
    try {
        m.WriteBuffer("x", 1);
        FAIL() << "no exception";
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
}

TEST(MemoryStream, GrowsWithZeroFilledGapsAndSetSize) {
    TMemoryStream m;
    for (int i = 0; i < 100000; ++i) {
        uint8_t b = uint8_t(i);
        m.WriteBuffer(&b, 1);
    }
    EXPECT_EQ(m.Size(), 100000);
    EXPECT_EQ(m.Memory()[99999], uint8_t(99999));
    TMemoryStream g;
    g.SetPosition(5);
    g.WriteBuffer("z", 1);
    ASSERT_EQ(g.Size(), 6);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g.Memory()[i], 0);
    g.SetSize(10);
    EXPECT_EQ(g.Memory()[9], 0);
    g.SetSize(2);
    EXPECT_EQ(g.Position(), 2);
    g.Clear();
    EXPECT_EQ(g.Size(), 0);
    EXPECT_EQ(g.Memory(), nullptr);
    EXPECT_THROW(g.SetSize(-1), EStreamError);
}

TEST(MemoryStream, CopyFromWholeAndPart) {
    TMemoryStream src, a, b;
    src.WriteBuffer("hello world", 11);
    EXPECT_EQ(a.CopyFrom(&src, 0), 11);   // 0: everything from the start
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a.Memory()), 11), "hello world");
    src.SetPosition(6);
    EXPECT_EQ(b.CopyFrom(&src, 5), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.Memory()), 5), "world");
    src.SetPosition(8);
    EXPECT_THROW(b.CopyFrom(&src, 5), EReadError);
}

TEST_F(FileStreams, FileStreamRoundTripAndErrors) {
    std::string name = dir + "data.bin";
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("abcdef", 6);
        EXPECT_EQ(f.Size(), 6);
        f.SetSize(4);
        EXPECT_EQ(f.Size(), 4);
    }
    {
        TFileStream f(name, fmOpenRead | fmShareDenyWrite);
        char buf[8];
        EXPECT_EQ(f.Read(buf, 8), 4);
        EXPECT_EQ(std::string(buf, 4), "abcd");
        EXPECT_EQ(f.Seek(1, soBeginning), 1);
        EXPECT_THROW(f.ReadBuffer(buf, 4), EReadError);
        EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);   // opened for reading
    }
    TMemoryStream m;
    m.LoadFromFile(name);
    EXPECT_EQ(m.Size(), 4);
    EXPECT_EQ(m.Position(), 0);
    m.SaveToFile(dir + "copy.bin");
    EXPECT_TRUE(FileExists(dir + "copy.bin"));

    struct Case {
        std::string file;
        unsigned mode;
        bool create;
    } cases[] = {{dir + "missing.bin", fmOpenRead, false},
                 {dir + "no/such/dir/x.bin", fmCreate, true},
                 {dir, fmOpenRead, false}};   // a directory is not a file
    for (const auto& k : cases) {
        try {
            TFileStream f(k.file, k.mode);
            ADD_FAILURE() << "opened " << k.file;
        } catch (const EFCreateError& e) {
            EXPECT_TRUE(k.create);
            EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + k.file + "\""), std::string::npos) << e.what();
        } catch (const EFOpenError& e) {
            EXPECT_FALSE(k.create);
            EXPECT_NE(std::string(e.what()).find("Cannot open file \"" + k.file + "\""), std::string::npos) << e.what();
        }
    }
}

// ---- String lists ----

TEST(StringList, AddFindValuesAndDelete) {
    TStringList l;
    EXPECT_EQ(l.Add("Alpha=1"), 0);
    l.Add("beta=two");
    l.Add("gamma");
    EXPECT_EQ(l.IndexOf("ALPHA=1"), 0);
    EXPECT_EQ(l.IndexOf("delta"), -1);
    EXPECT_EQ(l.IndexOfName("BETA"), 1);
    EXPECT_EQ(l.Values("alpha"), "1");
    EXPECT_EQ(l.Values("gamma"), "");
    EXPECT_EQ(l.Names(0), "Alpha");
    EXPECT_EQ(l.Names(2), "");
    l.SetValues("beta", "3");
    EXPECT_EQ(l[1], "beta=3");
    l.SetValues("new", "x");
    EXPECT_EQ(l.Count(), 4);
    l.SetValues("alpha", "");   // an empty value removes the line
    EXPECT_EQ(l.IndexOfName("alpha"), -1);
    EXPECT_THROW(l.Delete(10), EListError);
    l.Exchange(0, 1);
    EXPECT_EQ(l[0], "gamma");
    TObject o;
    l.AddObject("obj", &o);
    EXPECT_EQ(l.Objects(l.IndexOf("obj")), &o);
}

TEST(StringList, SortingAndSortedLists) {
    TStringList l;
    for (const char* s : {"pear", "Apple", "banana", "apple2"}) l.Add(s);
    l.Sort();
    EXPECT_EQ(l.Text(), "Apple\napple2\nbanana\npear\n");
    TStringList s;
    s.Sorted = true;
    s.Add("m");
    s.Add("B");
    s.Add("z");
    EXPECT_EQ(s.Add("b"), 0);   // duplicates are ignored
    EXPECT_EQ(s.Text(), "B\nm\nz\n");
    EXPECT_THROW(s.Insert(0, "a"), EListError);
}

TEST(StringList, TextSplitsOnEveryLineBreak) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\nb\n", {"a", "b"}},   {"a\r\nb", {"a", "b"}}, {"a\rb\r\n\nc", {"a", "b", "", "c"}},
        {"", {}},                  {"\n", {""}},           {"x", {"x"}},
    };
    for (const auto& k : cases) {
        TStringList l;
        l.SetText(k.text);
        std::vector<std::string> got;
        for (int i = 0; i < l.Count(); ++i) got.push_back(l[i]);
        EXPECT_EQ(got, k.lines) << k.text;
    }
}

TEST_F(FileStreams, StringListFilesAndAssign) {
    TStringList l;
    l.Add("one");
    l.Add("two=2");
    l.SaveToFile(dir + "l.txt");
    TStringList r;
    r.LoadFromFile(dir + "l.txt");
    EXPECT_EQ(r.Text(), "one\ntwo=2\n");
    TStringList c;
    c.Assign(&r);
    EXPECT_EQ(c.Values("two"), "2");
    EXPECT_THROW(r.LoadFromFile(dir + "absent.txt"), EFOpenError);
}
