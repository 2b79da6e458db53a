// Core classes of the class library: objects, components, method pointers, streams, string lists.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "SysUtils.h"

class TObject {
public:
    virtual ~TObject() = default;
};

class TPersistent : public TObject {
public:
    // Copies Source into this object; the default refuses, as the class library does.
    virtual void Assign(TPersistent* Source);
protected:
    // Second chance for Assign: Source asks the destination to copy it.
    virtual void AssignTo(TPersistent* Dest);
};

// A method pointer: an object and one of its member functions. Two method pointers are
// equal when both the object and the function are the same, so callbacks can be found and
// removed again, which std::function cannot do.
template <typename Sig>
class TMethod;

template <typename R, typename... A>
class TMethod<R(A...)> {
public:
    TMethod() = default;

    template <class C>
    TMethod(C* obj, R (C::*fn)(A...)) : data_(obj), thunk_(&CallMember<C>) {
        static_assert(sizeof(fn) <= sizeof(code_));
        std::memcpy(code_, &fn, sizeof(fn));
    }

    // A plain function with a context pointer (the context is compared as the object).
    TMethod(R (*fn)(void*, A...), void* context) : data_(context), thunk_(&CallPlain) {
        std::memcpy(code_, &fn, sizeof(fn));
    }

    explicit operator bool() const { return thunk_ != nullptr; }
    R operator()(A... args) const { return thunk_(*this, std::forward<A>(args)...); }

    bool operator==(const TMethod& o) const {
        return data_ == o.data_ && thunk_ == o.thunk_ && std::memcmp(code_, o.code_, sizeof(code_)) == 0;
    }
    bool operator!=(const TMethod& o) const { return !(*this == o); }

    void* Data() const { return data_; }
    void Clear() { *this = TMethod(); }

private:
    using Thunk = R (*)(const TMethod&, A...);

    template <class C>
    static R CallMember(const TMethod& m, A... args) {
        R (C::*fn)(A...);
        std::memcpy(&fn, m.code_, sizeof(fn));
        return (static_cast<C*>(m.data_)->*fn)(std::forward<A>(args)...);
    }
    static R CallPlain(const TMethod& m, A... args) {
        R (*fn)(void*, A...);
        std::memcpy(&fn, m.code_, sizeof(fn));
        return fn(m.data_, std::forward<A>(args)...);
    }

    void* data_ = nullptr;
    Thunk thunk_ = nullptr;
    alignas(void*) unsigned char code_[2 * sizeof(void*)] = {};
};

template <class C, typename R, typename... A>
TMethod<R(A...)> MakeMethod(C* obj, R (C::*fn)(A...)) {
    return TMethod<R(A...)>(obj, fn);
}

using TNotifyEvent = TMethod<void(TObject* Sender)>;

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
    csLoading = 1, csReading = 2, csWriting = 4, csDestroying = 8, csDesigning = 16,
    csFreeNotification = 32
};

// A component frees the components it owns when it is destroyed, and tells every component
// that asked for free notification (and its owner's family) that it goes away.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    int ComponentCount() const { return int(components_.size()); }
    TComponent* Components(int i) const { return components_.at(size_t(i)); }
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);
    void DestroyComponents();

    const std::string& Name() const { return name_; }
    // Windowed controls also give the name to their widgets, so lookups by name find them.
    virtual void SetName(const std::string& n) { name_ = n; }
    // The owned component of that name (case-insensitive), null when none.
    TComponent* FindComponent(const std::string& AName) const;
    unsigned ComponentState() const { return state_; }
    bool Destroying() const { return (state_ & csDestroying) != 0; }

    void FreeNotification(TComponent* c);
    void RemoveFreeNotification(TComponent* c);

    intptr_t Tag = 0;

protected:
    // Called with opRemove when a component this one knows about goes away; the default
    // passes the news on to the owned components.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    void SetComponentState(unsigned flags) { state_ |= flags; }
    void ClearComponentState(unsigned flags) { state_ &= ~flags; }

private:
    void NotifyRemoval(TComponent* AComponent) { Notification(AComponent, opRemove); }

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    std::string name_;
    unsigned state_ = 0;
};

// ---- Streams ----

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
public:
    // Read and Write return the number of bytes moved; a short count is not an error here.
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t p) { Seek(p, soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t NewSize);

    // Exactly Count bytes or EReadError / EWriteError.
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    // Count 0 copies the whole of Source from its start. Returns the bytes copied.
    int64_t CopyFrom(TStream* Source, int64_t Count);
};

// A stream over memory that it owns and grows.
class TMemoryStream : public TStream {
public:
    ~TMemoryStream() override;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t NewSize) override;

    uint8_t* Memory() { return data_; }
    const uint8_t* Memory() const { return data_; }
    void Clear();
    void LoadFromStream(TStream* S);
    void LoadFromFile(const std::string& FileName);
    void SaveToStream(TStream* S);
    void SaveToFile(const std::string& FileName);

private:
    void SetCapacity(int64_t c);
    uint8_t* data_ = nullptr;
    int64_t size_ = 0, capacity_ = 0, pos_ = 0;
};

// A read-only stream over memory that someone else owns and keeps while the stream is used
// (the class library's memory stream after SetPointer). Writes move nothing.
class TPointerStream : public TStream {
public:
    TPointerStream(const void* Data, int64_t Size);
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return size_; }

private:
    const uint8_t* data_;
    int64_t size_, pos_ = 0;
};

// File open modes of the class library.
constexpr unsigned fmOpenRead = 0x0000, fmOpenWrite = 0x0001, fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareCompat = 0x0000, fmShareExclusive = 0x0010, fmShareDenyWrite = 0x0020,
                   fmShareDenyRead = 0x0030, fmShareDenyNone = 0x0040;
constexpr unsigned fmCreate = 0xFF00;

class TFileStream : public TStream {
public:
    // EFOpenError "Cannot open file "<name>". <reason>" or EFCreateError when it fails.
    TFileStream(const std::string& FileName, unsigned Mode);
    ~TFileStream() override;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(int64_t NewSize) override;
    const std::string& FileName() const { return name_; }
    int Handle() const { return fd_; }

private:
    std::string name_;
    int fd_ = -1;
};

// ---- String lists ----

class TStringList : public TPersistent {
public:
    int Count() const { return int(items_.size()); }
    const std::string& Strings(int i) const { return items_.at(size_t(i)); }
    void SetStrings(int i, const std::string& s) { items_.at(size_t(i)) = s; }
    const std::string& operator[](int i) const { return Strings(i); }
    TObject* Objects(int i) const { return objects_.at(size_t(i)); }
    void SetObjects(int i, TObject* o) { objects_.at(size_t(i)) = o; }

    int Add(const std::string& s);
    int AddObject(const std::string& s, TObject* o);
    void Insert(int i, const std::string& s);
    void Delete(int i);
    void Clear();
    int IndexOf(const std::string& s) const;         // case-insensitive, -1 when absent
    int IndexOfName(const std::string& name) const;  // "name=value" lines
    std::string Names(int i) const;
    std::string Values(const std::string& name) const;
    void SetValues(const std::string& name, const std::string& value);
    void Sort();                                      // case-insensitive
    void Exchange(int a, int b);

    std::string Text() const;                         // lines joined with "\n", each ended
    void SetText(const std::string& text);            // splits on \r\n, \n or \r
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;
    void LoadFromStream(TStream* S);
    void SaveToStream(TStream* S) const;
    void Assign(TPersistent* Source) override;

    bool Sorted = false;   // Add keeps the list sorted when set
private:
    std::vector<std::string> items_;
    std::vector<TObject*> objects_;
};
