#include "Classes.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <typeinfo>

// ---- TPersistent ----

namespace {

std::string ClassNameOf(const std::type_info& t) {
    int status = 0;
    char* n = abi::__cxa_demangle(t.name(), nullptr, nullptr, &status);
    std::string r = (status == 0 && n) ? n : t.name();
    std::free(n);
    return r;
}

}  // namespace

void TPersistent::Assign(TPersistent* Source) {
    if (Source) {
        Source->AssignTo(this);
        return;
    }
    throw EConvertError("Cannot assign a nil to a " + ClassNameOf(typeid(*this)));
}

void TPersistent::AssignTo(TPersistent* Dest) {
    throw EConvertError("Cannot assign a " + ClassNameOf(typeid(*this)) + " to a " +
                        ClassNameOf(typeid(*Dest)));
}

// ---- TComponent ----

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    SetComponentState(csDestroying);
    for (TComponent* c : components_) c->SetComponentState(csDestroying);
    // Everyone that asked to hear of this component's end hears it now; the lists are
    // mutual, so each side forgets the other before the call.
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        auto& theirs = other->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* c) {
    if (!c || c == this) return;
    if (c->owner_) c->owner_->RemoveComponent(c);
    components_.push_back(c);
    c->owner_ = this;
    Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    if (!c || c->owner_ != this) return;
    Notification(c, opRemove);
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    c->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
    // Last first, as the class library does; each removal tells the remaining family.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        RemoveComponent(c);
        delete c;
    }
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
    if (AName.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->Name(), AName)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* c) {
    if (!c || c == this) return;
    // Components of one owner hear of each other through the owner already.
    if (!owner_ || c->owner_ != owner_) {
        if (std::find(freeNotifies_.begin(), freeNotifies_.end(), c) == freeNotifies_.end()) {
            freeNotifies_.push_back(c);
            c->FreeNotification(this);
        }
    }
    SetComponentState(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* c) {
    if (!c) return;
    auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), c);
    if (it == freeNotifies_.end()) return;
    freeNotifies_.erase(it);
    c->RemoveFreeNotification(this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
    // Index walk from the end that survives components leaving the list during the calls.
    for (size_t i = components_.size(); i-- > 0;) {
        if (i >= components_.size()) {
            if (components_.empty()) break;
            i = components_.size() - 1;
        }
        TComponent* c = components_[i];
        if (c != AComponent) c->Notification(AComponent, Operation);
    }
}

// ---- TStream ----

int64_t TStream::Size() {
    int64_t pos = Seek(0, soCurrent);
    int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
    if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
    if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count))
        throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count) {
    if (!Source) throw EReadError("Stream read error");
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    if (Count < 0) throw EReadError("Stream read error");
    constexpr int64_t kChunk = 61440;
    std::vector<uint8_t> buf(size_t(std::min(Count, kChunk)) + 1);
    int64_t left = Count;
    while (left > 0) {
        int64_t n = std::min(left, kChunk);
        Source->ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return Count;
}

// ---- TPointerStream ----

TPointerStream::TPointerStream(const void* Data, int64_t Size)
    : data_(static_cast<const uint8_t*>(Data)), size_(Data && Size > 0 ? Size : 0) {}

int64_t TPointerStream::Read(void* Buffer, int64_t Count) {
    if (pos_ < 0 || Count <= 0 || pos_ >= size_) return 0;
    const int64_t n = std::min(Count, size_ - pos_);
    std::memcpy(Buffer, data_ + pos_, size_t(n));
    pos_ += n;
    return n;
}

int64_t TPointerStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? pos_ : size_;
    if ((Offset > 0 && base > INT64_MAX - Offset) || (Offset < 0 && base < INT64_MIN - Offset)) return pos_;
    pos_ = base + Offset;
    return pos_;
}

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::SetCapacity(int64_t c) {
    if (c == capacity_) return;
    if (c <= 0) {
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
        return;
    }
    if (uint64_t(c) > SIZE_MAX / 2) throw EOutOfMemory("Out of memory");
    auto* p = static_cast<uint8_t*>(std::realloc(data_, size_t(c)));
    if (!p) throw EOutOfMemory("Out of memory");
    data_ = p;
    capacity_ = c;
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
    if (pos_ < 0 || Count <= 0 || pos_ >= size_) return 0;
    int64_t n = std::min(Count, size_ - pos_);
    std::memcpy(Buffer, data_ + pos_, size_t(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (pos_ < 0 || Count <= 0) return 0;
    if (Count > INT64_MAX - pos_) return 0;
    int64_t end = pos_ + Count;
    if (end > size_) {
        if (end > capacity_) {
            // Geometric growth keeps a long run of small writes linear.
            int64_t grow = capacity_ + capacity_ / 2;
            int64_t want = std::max(end, grow);
            want = (want + 8191) & ~int64_t(8191);
            try {
                SetCapacity(want);
            } catch (const EOutOfMemory&) {
                SetCapacity(end);
            }
        }
        if (pos_ > size_) std::memset(data_ + size_, 0, size_t(pos_ - size_));
        size_ = end;
    }
    std::memcpy(data_ + pos_, Buffer, size_t(Count));
    pos_ = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    switch (Origin) {
    case soBeginning: pos_ = Offset; break;
    case soCurrent: pos_ += Offset; break;
    case soEnd: pos_ = size_ + Offset; break;
    }
    return pos_;
}

void TMemoryStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) throw EStreamError("Stream size error");
    if (NewSize > capacity_) SetCapacity(NewSize);
    if (NewSize > size_) std::memset(data_ + size_, 0, size_t(NewSize - size_));
    size_ = NewSize;
    if (pos_ > size_) pos_ = size_;
}

void TMemoryStream::Clear() {
    SetCapacity(0);
    size_ = 0;
    pos_ = 0;
}

void TMemoryStream::LoadFromStream(TStream* S) {
    S->SetPosition(0);
    int64_t n = S->Size();
    SetSize(n);
    if (n > 0) S->ReadBuffer(data_, n);
    pos_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
    TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&f);
}

void TMemoryStream::SaveToStream(TStream* S) {
    if (size_ > 0) S->WriteBuffer(data_, size_);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
    TFileStream f(FileName, fmCreate);
    SaveToStream(&f);
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& FileName, unsigned Mode) : name_(FileName) {
    if ((Mode & fmCreate) == fmCreate) {
        fd_ = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
        return;
    }
    int flags = O_CLOEXEC;
    switch (Mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    // Reading never waits in open(): a FIFO without a writer opens at once (and reads as
    // empty) instead of holding the caller until one comes.
    const bool reading = (flags & O_ACCMODE) == O_RDONLY;
    fd_ = ::open(FileName.c_str(), reading ? flags | O_NONBLOCK | O_NOCTTY : flags);
    if (fd_ < 0) throw EFOpenError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
    if (reading) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    struct stat st;
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EFOpenError("Cannot open file \"" + FileName + "\". " + std::strerror(EISDIR));
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(Buffer);
    while (done < Count) {
        size_t n = size_t(std::min<int64_t>(Count - done, int64_t(1) << 30));
        ssize_t r = ::read(fd_, p + done, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += r;
    }
    return done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
    int64_t done = 0;
    auto* p = static_cast<const uint8_t*>(Buffer);
    while (done < Count) {
        size_t n = size_t(std::min<int64_t>(Count - done, int64_t(1) << 30));
        ssize_t r = ::write(fd_, p + done, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += r;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    return int64_t(::lseek(fd_, off_t(Offset), whence));
}

void TFileStream::SetSize(int64_t NewSize) {
    if (NewSize < 0 || ::ftruncate(fd_, off_t(NewSize)) != 0)
        throw EStreamError("Stream size error");
    if (Position() > NewSize) Seek(0, soEnd);
}

// ---- TStringList ----

namespace {

int CompareText(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = x - 'A' + 'a';
        if (y >= 'A' && y <= 'Z') y = y - 'A' + 'a';
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* o) {
    size_t at = items_.size();
    if (Sorted) {
        auto it = std::lower_bound(items_.begin(), items_.end(), s, [](const std::string& a, const std::string& b) {
            return CompareText(a, b) < 0;
        });
        at = size_t(it - items_.begin());
        // Duplicates are ignored in a sorted list, as the class library's default has it.
        if (it != items_.end() && CompareText(*it, s) == 0) return int(at);
    }
    items_.insert(items_.begin() + ptrdiff_t(at), s);
    objects_.insert(objects_.begin() + ptrdiff_t(at), o);
    return int(at);
}

void TStringList::Insert(int i, const std::string& s) {
    if (Sorted) throw EListError("Operation not allowed on sorted list");
    if (i < 0 || size_t(i) > items_.size()) throw EListError("List index out of bounds (" + IntToStr(i) + ")");
    items_.insert(items_.begin() + i, s);
    objects_.insert(objects_.begin() + i, nullptr);
}

void TStringList::Delete(int i) {
    if (i < 0 || size_t(i) >= items_.size()) throw EListError("List index out of bounds (" + IntToStr(i) + ")");
    items_.erase(items_.begin() + i);
    objects_.erase(objects_.begin() + i);
}

void TStringList::Clear() {
    items_.clear();
    objects_.clear();
}

int TStringList::IndexOf(const std::string& s) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (CompareText(items_[i], s) == 0) return int(i);
    return -1;
}

int TStringList::IndexOfName(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        size_t eq = items_[i].find('=');
        if (eq != std::string::npos && CompareText(items_[i].substr(0, eq), name) == 0) return int(i);
    }
    return -1;
}

std::string TStringList::Names(int i) const {
    const std::string& s = Strings(i);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::Values(const std::string& name) const {
    int i = IndexOfName(name);
    if (i < 0) return "";
    const std::string& s = items_[size_t(i)];
    return s.substr(s.find('=') + 1);
}

void TStringList::SetValues(const std::string& name, const std::string& value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    if (i < 0) Add(name + "=" + value);
    else items_[size_t(i)] = name + "=" + value;
}

void TStringList::Sort() {
    std::vector<size_t> order(items_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return CompareText(items_[a], items_[b]) < 0; });
    std::vector<std::string> items;
    std::vector<TObject*> objects;
    for (size_t i : order) {
        items.push_back(std::move(items_[i]));
        objects.push_back(objects_[i]);
    }
    items_ = std::move(items);
    objects_ = std::move(objects);
}

void TStringList::Exchange(int a, int b) {
    if (a < 0 || size_t(a) >= items_.size()) throw EListError("List index out of bounds (" + IntToStr(a) + ")");
    if (b < 0 || size_t(b) >= items_.size()) throw EListError("List index out of bounds (" + IntToStr(b) + ")");
    std::swap(items_[size_t(a)], items_[size_t(b)]);
    std::swap(objects_[size_t(a)], objects_[size_t(b)]);
}

std::string TStringList::Text() const {
    std::string r;
    for (const auto& s : items_) {
        r += s;
        r += '\n';
    }
    return r;
}

void TStringList::SetText(const std::string& text) {
    Clear();
    size_t i = 0, n = text.size();
    while (i < n) {
        size_t j = i;
        while (j < n && text[j] != '\n' && text[j] != '\r') ++j;
        items_.push_back(text.substr(i, j - i));
        objects_.push_back(nullptr);
        if (j < n && text[j] == '\r' && j + 1 < n && text[j + 1] == '\n') ++j;
        i = j + 1;
    }
    if (Sorted) Sort();
}

void TStringList::LoadFromStream(TStream* S) {
    int64_t n = S->Size() - S->Position();
    std::string buf(size_t(std::max<int64_t>(n, 0)), '\0');
    if (n > 0) S->ReadBuffer(buf.data(), n);
    SetText(buf);
}

void TStringList::SaveToStream(TStream* S) const {
    std::string t = Text();
    S->WriteBuffer(t.data(), int64_t(t.size()));
}

void TStringList::LoadFromFile(const std::string& FileName) {
    TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&f);
}

void TStringList::SaveToFile(const std::string& FileName) const {
    TFileStream f(FileName, fmCreate);
    SaveToStream(&f);
}

void TStringList::Assign(TPersistent* Source) {
    if (auto* s = dynamic_cast<TStringList*>(Source)) {
        if (s == this) return;
        items_ = s->items_;
        objects_ = s->objects_;
        return;
    }
    TPersistent::Assign(Source);
}
