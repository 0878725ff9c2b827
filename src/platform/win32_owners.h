// Owners of the Win32 and COM resources the Windows backends hold: one owner per
// resource type, each releasing what it holds exactly once. COM interface pointers
// are owned by Microsoft::WRL::ComPtr.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string_view>

namespace vellum::win32 {

using Microsoft::WRL::ComPtr;

// A BSTR, freed with SysFreeString. Null stands for the empty string, as COM allows.
class Bstr {
public:
    Bstr() = default;
    // A copy of `text`; check ok() for the allocation.
    explicit Bstr(std::u16string_view text) : value_(allocate(text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(value_); }

    bool ok() const { return value_ != nullptr; }
    BSTR get() const { return value_; }
    // For an out-parameter: frees what is held first.
    BSTR* receive() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    // The text up to its first zero unit.
    std::u16string_view text() const {
        if (value_ == nullptr) return {};
        const auto* units = reinterpret_cast<const char16_t*>(value_);
        std::size_t n = 0;
        std::size_t limit = SysStringLen(value_);
        while (n < limit && units[n] != u'\0') ++n;
        return {units, n};
    }

    // A new BSTR holding `text`, or null when it cannot be had (a BSTR holds at most 2^31 units).
    static BSTR allocate(std::u16string_view text) {
        if (text.size() > 0x7FFFFFFF) return nullptr;
        return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    }

private:
    BSTR value_ = nullptr;
};

// A VARIANT, cleared with VariantClear (which frees a string or releases an object it holds).
class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    // A VT_BSTR holding a copy of `text`; false when it could not be allocated.
    bool setText(std::u16string_view text) {
        VariantClear(&value_);
        BSTR copy = Bstr::allocate(text);
        if (copy == nullptr) return false;
        V_VT(&value_) = VT_BSTR;
        V_BSTR(&value_) = copy;
        return true;
    }
    // A VT_UNKNOWN holding its own reference to `object`.
    void setObject(IUnknown* object) {
        VariantClear(&value_);
        object->AddRef();
        V_VT(&value_) = VT_UNKNOWN;
        V_UNKNOWN(&value_) = object;
    }
    void setInt(LONG number) {
        VariantClear(&value_);
        V_VT(&value_) = VT_I4;
        V_I4(&value_) = number;
    }
    const VARIANT& get() const { return value_; }

private:
    VARIANT value_;
};

}  // namespace vellum::win32
