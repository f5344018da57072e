#include "platform/linux/wayland/ScreencopyWindowCapture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "protocols/wlr-screencopy-unstable-v1-client.h"

namespace larkspire::linux_desktop {
namespace {

// The compositor copies at its next frame.
constexpr auto kCopyTimeout = std::chrono::seconds(2);

// One screen copy, from the buffer description to the pixels.
struct Frame {
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    bool described = false;
    bool bufferDone = false;
    bool yInverted = false;
    bool ready = false;
    bool failed = false;

    static void onBuffer(void* self, zwlr_screencopy_frame_v1*, std::uint32_t format,
                         std::uint32_t width, std::uint32_t height, std::uint32_t stride) {
        auto* f = static_cast<Frame*>(self);
        if (!f->described) {
            f->described = true;
            f->format = format;
            f->width = static_cast<int>(width);
            f->height = static_cast<int>(height);
            f->stride = static_cast<int>(stride);
        }
    }
    static void onFlags(void* self, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
        static_cast<Frame*>(self)->yInverted = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
    }
    static void onReady(void* self, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                        std::uint32_t) {
        static_cast<Frame*>(self)->ready = true;
    }
    static void onFailed(void* self, zwlr_screencopy_frame_v1*) {
        static_cast<Frame*>(self)->failed = true;
    }
    static void onDamage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                         std::uint32_t, std::uint32_t) {}
    static void onDmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                         std::uint32_t) {}
    static void onBufferDone(void* self, zwlr_screencopy_frame_v1*) {
        static_cast<Frame*>(self)->bufferDone = true;
    }
};

// Destructor requests, so that the compositor frees its side too.
struct DestroyFrame {
    void operator()(zwlr_screencopy_frame_v1* frame) const {
        zwlr_screencopy_frame_v1_destroy(frame);
    }
};
struct DestroyBuffer {
    void operator()(wl_buffer* buffer) const { wl_buffer_destroy(buffer); }
};
struct DestroyPool {
    void operator()(wl_shm_pool* pool) const { wl_shm_pool_destroy(pool); }
};

// A pixel of the formats wlroots renders to, as 0xffRRGGBB.
std::optional<std::uint32_t (*)(std::uint32_t)> converter(std::uint32_t format) {
    switch (format) {
        case WL_SHM_FORMAT_XRGB8888:
        case WL_SHM_FORMAT_ARGB8888:
            return [](std::uint32_t p) { return p | 0xff000000u; };
        case WL_SHM_FORMAT_XBGR8888:
        case WL_SHM_FORMAT_ABGR8888:
            return [](std::uint32_t p) {
                return 0xff000000u | ((p & 0xffu) << 16) | (p & 0xff00u) | ((p >> 16) & 0xffu);
            };
        default:
            return std::nullopt;
    }
}

}  // namespace

ScreencopyWindowCapture::ScreencopyWindowCapture(WaylandConnection& connection)
    : connection_(connection) {}

bool ScreencopyWindowCapture::canCaptureWindows() const {
    return connection_.screencopy() && connection_.shm() && !connection_.outputs().empty() &&
           SwayWindowList::available();
}

std::string ScreencopyWindowCapture::unavailableReason() const {
    return canCaptureWindows() ? std::string()
                               : "Window images need the compositor's screen copy and sway's "
                                 "window list: this session offers them no more";
}

std::optional<std::vector<platform::WindowDescription>> ScreencopyWindowCapture::onScreenWindows() {
    if (!canCaptureWindows()) {
        return std::nullopt;
    }
    auto windows = SwayWindowList::visibleWindows();
    if (!windows) {
        return std::nullopt;
    }
    listed_.clear();
    std::vector<platform::WindowDescription> list;
    for (const auto& w : *windows) {
        listed_[w.id] = w;
        // The tree holds application windows only: docks and panels are layer surfaces.
        list.push_back(
            {w.id, w.pid, 0, static_cast<double>(w.width), static_cast<double>(w.height)});
    }
    return list;
}

std::optional<platform::Image> ScreencopyWindowCapture::imageOf(platform::WindowId window) {
    const auto place = listed_.find(window);
    if (!canCaptureWindows() || place == listed_.end() || place->second.width <= 0 ||
        place->second.height <= 0) {
        return std::nullopt;
    }
    const SwayWindowList::Window& w = place->second;
    wl_output* output = connection_.outputs().front()->output.get();
    for (const auto& o : connection_.outputs()) {
        if (o->name == w.output) {
            output = o->output.get();
        }
    }

    static const zwlr_screencopy_frame_v1_listener listener{
        &Frame::onBuffer, &Frame::onFlags,  &Frame::onReady,     &Frame::onFailed,
        &Frame::onDamage, &Frame::onDmabuf, &Frame::onBufferDone};
    Frame frame;
    std::unique_ptr<zwlr_screencopy_frame_v1, DestroyFrame> proxy(
        zwlr_screencopy_manager_v1_capture_output_region(connection_.screencopy(), 0, output, w.x,
                                                         w.y, w.width, w.height));
    zwlr_screencopy_frame_v1_add_listener(proxy.get(), &listener, &frame);
    // Version 3 ends the buffer descriptions with buffer_done; before it, one round trip.
    const bool announcesDone = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(proxy.get())) >= 3;
    const auto deadline = std::chrono::steady_clock::now() + kCopyTimeout;
    auto waitFor = [&](const bool& flag) {
        while (!flag && !frame.failed && std::chrono::steady_clock::now() < deadline) {
            if (!connection_.roundtrip()) {
                return false;
            }
        }
        return flag && !frame.failed;
    };
    if (!(announcesDone ? waitFor(frame.bufferDone) : connection_.roundtrip()) ||
        !frame.described) {
        return std::nullopt;
    }
    const auto convert = converter(frame.format);
    if (!convert || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4) {
        return std::nullopt;
    }

    const std::size_t size = static_cast<std::size_t>(frame.stride) * frame.height;
    const int fd = memfd_create("larkspire-window", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return std::nullopt;
    }
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return std::nullopt;
    }
    std::unique_ptr<wl_shm_pool, DestroyPool> pool(
        wl_shm_create_pool(connection_.shm(), fd, static_cast<int>(size)));
    close(fd);
    std::unique_ptr<wl_buffer, DestroyBuffer> buffer(wl_shm_pool_create_buffer(
        pool.get(), 0, frame.width, frame.height, frame.stride, frame.format));
    zwlr_screencopy_frame_v1_copy(proxy.get(), buffer.get());
    std::optional<platform::Image> image;
    if (waitFor(frame.ready)) {
        image.emplace();
        image->width = frame.width;
        image->height = frame.height;
        image->pixels.resize(static_cast<std::size_t>(frame.width) * frame.height);
        for (int y = 0; y < frame.height; ++y) {
            const int row = frame.yInverted ? frame.height - 1 - y : y;
            const auto* source = reinterpret_cast<const std::uint32_t*>(
                static_cast<const char*>(pixels) + static_cast<std::size_t>(row) * frame.stride);
            for (int x = 0; x < frame.width; ++x) {
                image->pixels[static_cast<std::size_t>(y) * frame.width + x] =
                    (*convert)(source[x]);
            }
        }
    }
    proxy.reset();
    buffer.reset();
    pool.reset();
    connection_.flush();
    munmap(pixels, size);
    return image;
}

}  // namespace larkspire::linux_desktop
