#include "controls/Banner.h"

#include <cstring>
#include <string>

#include "core/body_decoder.h"
#include "core/control_layout.h"
#include "res/resource.h"

namespace {

class StringSink : public core::ByteSink {
public:
    explicit StringSink(std::string& out) : m_out(out) {}
    bool Write(const char* data, std::size_t size) override {
        if (m_out.size() + size > kMaxBannerBytes) return false;
        m_out.append(data, size);
        return true;
    }
    static constexpr std::size_t kMaxBannerBytes = 1u << 20;  // the 300 % banner is 0.6 MiB

private:
    std::string& m_out;
};

bool Gunzipped(const void* data, std::size_t size, std::string& out) {
    core::BodyDecoder decoder(core::ContentCoding::Gzip);
    StringSink sink(out);
    return decoder.Feed(static_cast<const char*>(data), size, sink) && decoder.Finish(sink);
}

int ResourceFor(int scale) {
    switch (scale) {
    case 125: return IDR_BANNER_125;
    case 150: return IDR_BANNER_150;
    case 200: return IDR_BANNER_200;
    case 300: return IDR_BANNER_300;
    default: return IDR_BANNER_100;
    }
}

}  // namespace

ScopedBitmap LoadBanner(unsigned dpi, HMODULE module) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(ResourceFor(core::BannerScaleFor(dpi))), MAKEINTRESOURCEW(10));  // RT_RCDATA
    const HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    std::string bmp;
    if (!data || !Gunzipped(data, ::SizeofResource(module, found), bmp) || bmp.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) {
        return ScopedBitmap();
    }
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    std::memcpy(&file, bmp.data(), sizeof file);
    std::memcpy(&info, bmp.data() + sizeof file, sizeof info);
    // The form the script writes: a BMP of 24 bits per pixel, rows bottom up, each padded to 4 bytes.
    const std::size_t stride = (static_cast<std::size_t>(info.biWidth) * 3 + 3) & ~std::size_t{3};
    if (file.bfType != 0x4D42 || info.biBitCount != 24 || info.biCompression != BI_RGB || info.biWidth <= 0 || info.biHeight <= 0 ||
        file.bfOffBits > bmp.size() || stride * static_cast<std::size_t>(info.biHeight) > bmp.size() - file.bfOffBits) {
        return ScopedBitmap();
    }
    BITMAPINFO bi{};
    bi.bmiHeader = info;
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    void* bits = nullptr;
    ScopedBitmap bitmap(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap && bits) std::memcpy(bits, bmp.data() + file.bfOffBits, stride * static_cast<std::size_t>(info.biHeight));
    return bitmap;
}

unsigned WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return dpi;
    }
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : 96u;
}
