// Camera controls from GstColorBalance and, for V4L2 devices, from the
// device's own control list.
#include "graph/CameraControlsDialog.h"

#include <gst/video/colorbalance.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <linux/videodev2.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace quell {

namespace {

using SharedElement = std::shared_ptr<GstElement>;

SharedElement Shared(GstElement* element)
{
    return SharedElement(element, [](GstElement* e) { gst_object_unref(e); });
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && g_ascii_strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The usual channel names in the program's language; others as the camera
// names them.
std::string LabelFor(const std::string& name)
{
    static const std::pair<const char*, const char*> kNames[] = {
        {"brightness", "明るさ"},
        {"contrast", "コントラスト"},
        {"saturation", "彩度"},
        {"hue", "色相"},
        {"gain", "ゲイン"},
        {"gamma", "ガンマ"},
        {"sharpness", "シャープネス"},
        {"white balance temperature", "ホワイトバランス"},
        {"white balance, automatic", "ホワイトバランス自動"},
        {"white balance automatic", "ホワイトバランス自動"},
        {"exposure (absolute)", "露出"},
        {"exposure time, absolute", "露出"},
        {"backlight compensation", "逆光補正"},
    };
    for (const auto& [from, to] : kNames) {
        if (SameName(name, from))
            return to;
    }
    return name;
}

// The element that implements the colour balance: the camera or one inside it.
SharedElement BalanceOf(GstElement* camera)
{
    if (GST_IS_COLOR_BALANCE(camera))
        return Shared(GST_ELEMENT(gst_object_ref(camera)));
    if (GST_IS_BIN(camera)) {
        if (GstElement* inner = gst_bin_get_by_interface(GST_BIN(camera), GST_TYPE_COLOR_BALANCE))
            return Shared(inner);
    }
    return nullptr;
}

// The element that holds an open V4L2 device ("device-fd" >= 0).
SharedElement V4l2Of(GstElement* camera)
{
    auto hasFd = [](GstElement* e) {
        return g_object_class_find_property(G_OBJECT_GET_CLASS(e), "device-fd") != nullptr;
    };
    if (hasFd(camera))
        return Shared(GST_ELEMENT(gst_object_ref(camera)));
    if (!GST_IS_BIN(camera))
        return nullptr;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(camera));
    GValue item = G_VALUE_INIT;
    SharedElement found;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* e = GST_ELEMENT(g_value_get_object(&item));
        if (hasFd(e))
            found = Shared(GST_ELEMENT(gst_object_ref(e)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

int Ioctl(int fd, unsigned long request, void* arg)
{
    int result;
    do {
        result = ::ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

void AddV4l2Controls(const SharedElement& element, std::vector<CameraControl>& controls)
{
    int fd = -1;
    g_object_get(element.get(), "device-fd", &fd, nullptr);
    if (fd < 0)
        return;
    const std::size_t covered = controls.size();
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Ioctl(fd, VIDIOC_QUERYCTRL, &query) == 0) {
        const std::string name(reinterpret_cast<const char*>(query.name),
                               strnlen(reinterpret_cast<const char*>(query.name), sizeof query.name));
        const bool usable = (query.type == V4L2_CTRL_TYPE_INTEGER || query.type == V4L2_CTRL_TYPE_BOOLEAN) &&
                            !(query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) &&
                            query.maximum > query.minimum;
        const bool known = std::any_of(controls.begin(), controls.begin() + static_cast<std::ptrdiff_t>(covered),
                                       [&](const CameraControl& c) { return c.label == LabelFor(name); });
        if (usable && !known) {
            const __u32 id = query.id;
            CameraControl control;
            control.label = LabelFor(name);
            control.minimum = query.minimum;
            control.maximum = query.maximum;
            control.toggle = query.type == V4L2_CTRL_TYPE_BOOLEAN;
            // The element is held so that its device stays open while the
            // dialog exists.
            control.get = [element, fd, id] {
                v4l2_control c{id, 0};
                return Ioctl(fd, VIDIOC_G_CTRL, &c) == 0 ? c.value : 0;
            };
            control.set = [element, fd, id](int value) {
                v4l2_control c{id, value};
                Ioctl(fd, VIDIOC_S_CTRL, &c);
            };
            controls.push_back(std::move(control));
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
}

}  // namespace

std::vector<CameraControl> CameraControlsOf(GstElement* camera)
{
    std::vector<CameraControl> controls;
    if (!camera)
        return controls;
    if (SharedElement balance = BalanceOf(camera)) {
        auto* cb = GST_COLOR_BALANCE(balance.get());
        for (const GList* l = gst_color_balance_list_channels(cb); l; l = l->next) {
            auto* channel = GST_COLOR_BALANCE_CHANNEL(l->data);
            if (channel->max_value <= channel->min_value)
                continue;
            // Channels are plain GObjects.
            auto shared = std::shared_ptr<GstColorBalanceChannel>(
                GST_COLOR_BALANCE_CHANNEL(g_object_ref(channel)), [](GstColorBalanceChannel* c) { g_object_unref(c); });
            CameraControl control;
            control.label = LabelFor(channel->label ? channel->label : "");
            control.minimum = channel->min_value;
            control.maximum = channel->max_value;
            control.get = [balance, shared] {
                return gst_color_balance_get_value(GST_COLOR_BALANCE(balance.get()), shared.get());
            };
            control.set = [balance, shared](int value) {
                gst_color_balance_set_value(GST_COLOR_BALANCE(balance.get()), shared.get(), value);
            };
            controls.push_back(std::move(control));
        }
    }
    if (SharedElement v4l2 = V4l2Of(camera))
        AddV4l2Controls(v4l2, controls);
    return controls;
}

CCameraControlsDialog::CCameraControlsDialog(std::vector<CameraControl> controls, QWidget* parent)
    : QDialog(parent), m_controls(std::move(controls))
{
    setWindowTitle(QStringLiteral("カメラの調整"));
    auto* layout = new QVBoxLayout(this);
    if (m_controls.empty())
        layout->addWidget(new QLabel(QStringLiteral("調整できる項目はありません。"), this));
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (const CameraControl& control : m_controls) {
        const QString label = QString::fromStdString(control.label);
        const int value = control.get ? control.get() : control.minimum;
        auto set = control.set;
        if (control.toggle) {
            auto* box = new QCheckBox(this);
            box->setChecked(value != 0);
            connect(box, &QCheckBox::toggled, this, [set](bool on) {
                if (set)
                    set(on ? 1 : 0);
            });
            form->addRow(label, box);
            m_editors.push_back(box);
            continue;
        }
        auto* row = new QHBoxLayout;
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(control.minimum, control.maximum);
        slider->setValue(value);
        slider->setMinimumWidth(220);
        auto* shown = new QLabel(QString::number(value), this);
        shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance(QStringLiteral("-00000")));
        shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        connect(slider, &QSlider::valueChanged, this, [set, shown](int v) {
            shown->setNum(v);
            if (set)
                set(v);
        });
        row->addWidget(slider);
        row->addWidget(shown);
        form->addRow(label, row);
        m_editors.push_back(slider);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);
}

QWidget* CCameraControlsDialog::Editor(const std::string& label) const
{
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        if (m_controls[i].label == label)
            return m_editors[i];
    }
    return nullptr;
}

void CCameraControlsDialog::Run(GstElement* camera, QWidget* parent)
{
    std::vector<CameraControl> controls = CameraControlsOf(camera);
    if (controls.empty())
        return;
    CCameraControlsDialog dialog(std::move(controls), parent);
    dialog.exec();
}

}  // namespace quell
