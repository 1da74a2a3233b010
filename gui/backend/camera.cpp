// Camera faces over V4L2: the capture devices are the /dev/video* nodes that
// can capture video; their names fill the face's data, and a selected device
// delivers single frames as image! values. With no device the face shows
// nothing and its data stays as it was.
#include "gui/backend/widgets.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "runtime/collector.hpp"
#include "runtime/stdout.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace kel {

struct CameraDevice {
    std::string path;  // /dev/videoN
    std::string name;  // the driver's card name
};

// What a camera view keeps (View::widget_data).
struct CameraRecord {
    std::vector<CameraDevice> devices;
    int fd = -1;  // the open device, or -1
};

static int ioctl_retry(int fd, unsigned long request, void* arg) {
    int r;
    do r = ioctl(fd, request, arg); while (r < 0 && errno == EINTR);
    return r;
}

// The capture devices in the order of their node numbers.
static std::vector<CameraDevice> camera_devices() {
    std::vector<std::pair<int, std::string>> nodes;
    if (DIR* dir = opendir("/dev")) {
        while (dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strncmp(name, "video", 5) != 0 || !name[5]) continue;
            char* end = nullptr;
            long n = std::strtol(name + 5, &end, 10);
            if (*end == '\0' && n >= 0) nodes.emplace_back(int(n), std::string("/dev/") + name);
        }
        closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<CameraDevice> devices;
    for (const auto& node : nodes) {
        int fd = open(node.second.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (ioctl_retry(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
            if (caps & V4L2_CAP_VIDEO_CAPTURE)
                devices.push_back({node.second, reinterpret_cast<const char*>(cap.card)});
        }
        close(fd);
    }
    return devices;
}

// Opens device index (0-based) of the record; an index outside the list
// raises access error cannot-open with the 1-based index.
static void camera_open(CameraRecord* record, int32_t index) {
    if (index < 0 || size_t(index) >= record->devices.size()) {
        Cell number;
        integer_make_at(&number, index + 1);
        error_raise(ERR_CANNOT_OPEN, &number);
    }
    if (record->fd >= 0) close(record->fd);
    record->fd = open(record->devices[size_t(index)].path.c_str(), O_RDWR | O_CLOEXEC);
    if (record->fd < 0) stdout_write_c_string("This device cannot preview!\n");
}

constexpr int CAMERA_GRAB_WAIT_MS = 3000;  // how long a grab waits for a frame

// Reads one frame of the open device into out as an image!, or leaves out
// unchanged when the device gives none within the wait (read I/O, RGB32 or YUYV).
static void camera_grab(CameraRecord* record, Cell* out) {
    if (record->fd < 0) return;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (ioctl_retry(record->fd, VIDIOC_G_FMT, &format) < 0) return;
    uint32_t width = format.fmt.pix.width, height = format.fmt.pix.height;
    uint32_t fourcc = format.fmt.pix.pixelformat;
    if (!width || !height || width > IMAGE_SIDE_MAX || height > IMAGE_SIDE_MAX) return;
    if (fourcc != V4L2_PIX_FMT_YUYV && fourcc != V4L2_PIX_FMT_XBGR32 && fourcc != V4L2_PIX_FMT_ABGR32)
        return;
    std::vector<uint8_t> frame(format.fmt.pix.sizeimage ? format.fmt.pix.sizeimage : width * height * 4);
    pollfd ready{record->fd, POLLIN, 0};
    if (poll(&ready, 1, CAMERA_GRAB_WAIT_MS) <= 0) return;  // no frame within the wait
    ssize_t n = read(record->fd, frame.data(), frame.size());
    if (n <= 0) return;
    image_make_at(out, width, height);
    uint32_t* pixels = image_pixels(out);
    auto clamp = [](int v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) {
            uint32_t r, g, b;
            if (fourcc == V4L2_PIX_FMT_YUYV) {
                size_t at = size_t(y) * format.fmt.pix.bytesperline + (x / 2) * 4;
                if (at + 3 >= size_t(n)) return;
                int luma = frame[at + (x % 2) * 2] - 16, u = frame[at + 1] - 128, v = frame[at + 3] - 128;
                r = clamp((298 * luma + 409 * v + 128) >> 8);
                g = clamp((298 * luma - 100 * u - 208 * v + 128) >> 8);
                b = clamp((298 * luma + 516 * u + 128) >> 8);
            } else {
                size_t at = size_t(y) * format.fmt.pix.bytesperline + x * 4;
                if (at + 3 >= size_t(n)) return;
                b = frame[at], g = frame[at + 1], r = frame[at + 2];
            }
            pixels[y * width + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
}

bool camera_grab_image(View* view, Cell* out) {
    auto* record = view && view->type == FACE_TYPE_CAMERA ? static_cast<CameraRecord*>(view->widget_data) : nullptr;
    if (!record) return false;
    camera_grab(record, out);
    return cell_type(out) == T_IMAGE;
}

// ---- hooks ------------------------------------------------------------------------------

static bool camera_make(View* view, View*, int32_t width, int32_t height) {
    view->widget = gtk_drawing_area_new();
    gtk_widget_set_size_request(view->widget, width, height);
    auto* record = new CameraRecord;
    view->widget_data = record;
    record->devices = camera_devices();
    if (record->devices.empty()) {
        stdout_write_c_string("No video capture hardware\n");
        return true;
    }
    CellRoot data;
    block_make_at(&data.cell, int32_t(record->devices.size()));
    for (const CameraDevice& device : record->devices) {
        string_load_push(reinterpret_cast<const uint8_t*>(device.name.data()), uint32_t(device.name.size()),
                         ENCODING_UTF8);
        block_ks_append(&data.cell, stack_top());
        stack_pop(1);
    }
    face_field_set(&view->face, FACE_OBJ_DATA, &data.cell);
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    if (cell_type(&selected) == T_INTEGER) camera_open(record, cell_int(&selected) - 1);
    return true;
}

static void camera_update(View* view, uint32_t bit) {
    auto* record = static_cast<CameraRecord*>(view->widget_data);
    if (!record) return;
    if (bit == face_bit(FACE_OBJ_SELECTED)) {
        Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
        if (cell_type(&selected) == T_INTEGER) {
            camera_open(record, cell_int(&selected) - 1);
        } else if (record->fd >= 0) {
            close(record->fd);
            record->fd = -1;
        }
    } else if (bit == face_bit(FACE_OBJ_IMAGE)) {
        // Asking for the image with none in it takes the next frame.
        Cell image = face_field(&view->face, FACE_OBJ_IMAGE);
        if (cell_type(&image) != T_NONE) return;
        CellRoot frame;
        if (camera_grab_image(view, &frame.cell)) face_field_set(&view->face, FACE_OBJ_IMAGE, &frame.cell);
    }
}

static void camera_destroy(View* view) {
    auto* record = static_cast<CameraRecord*>(view->widget_data);
    if (!record) return;
    if (record->fd >= 0) close(record->fd);
    delete record;
    view->widget_data = nullptr;
}

static const FaceTypeHooks camera_hooks = {camera_make, camera_update, nullptr, camera_destroy};
KEL_GUI_FACE_TYPE(FACE_TYPE_CAMERA, camera_hooks);

} // namespace kel
