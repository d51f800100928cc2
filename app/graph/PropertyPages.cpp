// A generic property editor over GObject properties of pipeline elements.
#include "graph/PropertyPages.h"

#include "graph/GraphRefs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

namespace quell {

namespace {

enum class Kind { None, Int, Double, Bool, Enum, String };

Kind KindOf(const GParamSpec* spec)
{
    const GType type = G_PARAM_SPEC_VALUE_TYPE(spec);
    if (G_TYPE_IS_ENUM(type))
        return Kind::Enum;
    switch (G_TYPE_FUNDAMENTAL(type)) {
    case G_TYPE_INT:
    case G_TYPE_UINT:
    case G_TYPE_LONG:
    case G_TYPE_ULONG:
    case G_TYPE_INT64:
    case G_TYPE_UINT64:
        return Kind::Int;
    case G_TYPE_FLOAT:
    case G_TYPE_DOUBLE:
        return Kind::Double;
    case G_TYPE_BOOLEAN:
        return Kind::Bool;
    case G_TYPE_STRING:
        return Kind::String;
    default:
        return Kind::None;
    }
}

// The range of an integer property as doubles (exact up to 2^53, which is
// as far as an editor of this kind goes).
void IntRange(const GParamSpec* spec, double& low, double& high)
{
    switch (G_TYPE_FUNDAMENTAL(G_PARAM_SPEC_VALUE_TYPE(spec))) {
    case G_TYPE_INT:
        low = G_PARAM_SPEC_INT(spec)->minimum;
        high = G_PARAM_SPEC_INT(spec)->maximum;
        break;
    case G_TYPE_UINT:
        low = G_PARAM_SPEC_UINT(spec)->minimum;
        high = G_PARAM_SPEC_UINT(spec)->maximum;
        break;
    case G_TYPE_LONG:
        low = static_cast<double>(G_PARAM_SPEC_LONG(spec)->minimum);
        high = static_cast<double>(G_PARAM_SPEC_LONG(spec)->maximum);
        break;
    case G_TYPE_ULONG:
        low = static_cast<double>(G_PARAM_SPEC_ULONG(spec)->minimum);
        high = static_cast<double>(G_PARAM_SPEC_ULONG(spec)->maximum);
        break;
    case G_TYPE_INT64:
        low = static_cast<double>(G_PARAM_SPEC_INT64(spec)->minimum);
        high = static_cast<double>(G_PARAM_SPEC_INT64(spec)->maximum);
        break;
    default:
        low = static_cast<double>(G_PARAM_SPEC_UINT64(spec)->minimum);
        high = static_cast<double>(G_PARAM_SPEC_UINT64(spec)->maximum);
        break;
    }
    constexpr double kExact = 9007199254740992.0;  // 2^53
    low = std::max(low, -kExact);
    high = std::min(high, kExact);
}

double ReadNumber(const GValue* value)
{
    switch (G_TYPE_FUNDAMENTAL(G_VALUE_TYPE(value))) {
    case G_TYPE_INT: return g_value_get_int(value);
    case G_TYPE_UINT: return g_value_get_uint(value);
    case G_TYPE_LONG: return static_cast<double>(g_value_get_long(value));
    case G_TYPE_ULONG: return static_cast<double>(g_value_get_ulong(value));
    case G_TYPE_INT64: return static_cast<double>(g_value_get_int64(value));
    case G_TYPE_UINT64: return static_cast<double>(g_value_get_uint64(value));
    case G_TYPE_FLOAT: return g_value_get_float(value);
    default: return g_value_get_double(value);
    }
}

// Writes a number into `value` of the property's type; the editor's range
// already holds it within the property's.
void WriteNumber(GValue* value, double number)
{
    switch (G_TYPE_FUNDAMENTAL(G_VALUE_TYPE(value))) {
    case G_TYPE_INT: g_value_set_int(value, static_cast<gint>(number)); break;
    case G_TYPE_UINT: g_value_set_uint(value, static_cast<guint>(number)); break;
    case G_TYPE_LONG: g_value_set_long(value, static_cast<glong>(number)); break;
    case G_TYPE_ULONG: g_value_set_ulong(value, static_cast<gulong>(number)); break;
    case G_TYPE_INT64: g_value_set_int64(value, static_cast<gint64>(number)); break;
    case G_TYPE_UINT64: g_value_set_uint64(value, static_cast<guint64>(number)); break;
    case G_TYPE_FLOAT: g_value_set_float(value, static_cast<gfloat>(number)); break;
    default: g_value_set_double(value, number); break;
    }
}

// The property's current value; the caller unsets it.
void Read(GstElement* element, const GParamSpec* spec, GValue* value)
{
    g_value_init(value, G_PARAM_SPEC_VALUE_TYPE(spec));
    g_object_get_property(G_OBJECT(element), spec->name, value);
}

}  // namespace

std::vector<GstRef<GstElement>> ElementsInPipelineOrder(GstElement* pipeline)
{
    std::vector<GstRef<GstElement>> elements;
    if (!pipeline || !GST_IS_BIN(pipeline))
        return elements;
    // The sorted iterator starts at the sinks; a resync starts it over.
    GstIterator* it = gst_bin_iterate_sorted(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK:
            elements.push_back(Share(GST_ELEMENT(g_value_get_object(&item))));
            g_value_reset(&item);
            break;
        case GST_ITERATOR_RESYNC:
            elements.clear();
            gst_iterator_resync(it);
            break;
        default:
            done = true;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    std::reverse(elements.begin(), elements.end());
    return elements;
}

std::vector<GParamSpec*> EditableProperties(GstElement* element)
{
    std::vector<GParamSpec*> properties;
    if (!element)
        return properties;
    guint count = 0;
    GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* spec = specs[i];
        if ((spec->flags & G_PARAM_WRITABLE) && (spec->flags & GST_PARAM_MUTABLE_PLAYING) &&
            !(spec->flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED)) && KindOf(spec) != Kind::None)
            properties.push_back(spec);
    }
    g_free(specs);
    return properties;
}

CPropertyPage::CPropertyPage(GstElement* element, QWidget* parent) : QDialog(parent), m_element(Share(element))
{
    GCharRef name(gst_element_get_name(element));
    setWindowTitle(QString::fromUtf8(name.get()));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (GParamSpec* spec : EditableProperties(element))
        AddEditor(form, spec);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    layout->addWidget(buttons);
}

CPropertyPage::~CPropertyPage() = default;

void CPropertyPage::AddEditor(QFormLayout* form, GParamSpec* spec)
{
    GstElement* element = m_element.get();
    const char* name = g_param_spec_get_name(spec);
    const QString label = QString::fromUtf8(name);
    GValue value = G_VALUE_INIT;
    Read(element, spec, &value);
    QWidget* editor = nullptr;

    // Each change is written at once; `spec` lives as long as the class.
    auto write = [element, spec](const auto& fill) {
        GValue v = G_VALUE_INIT;
        g_value_init(&v, G_PARAM_SPEC_VALUE_TYPE(spec));
        fill(&v);
        g_object_set_property(G_OBJECT(element), spec->name, &v);
        g_value_unset(&v);
    };

    switch (KindOf(spec)) {
    case Kind::Int: {
        double low = 0, high = 0;
        IntRange(spec, low, high);
        const double now = ReadNumber(&value);
        if (low >= INT_MIN && high <= INT_MAX) {
            auto* box = new QSpinBox(this);
            box->setRange(static_cast<int>(low), static_cast<int>(high));
            box->setValue(static_cast<int>(now));
            connect(box, &QSpinBox::valueChanged, this,
                    [write](int v) { write([v](GValue* g) { WriteNumber(g, v); }); });
            editor = box;
        } else {
            auto* box = new QDoubleSpinBox(this);
            box->setDecimals(0);
            box->setRange(low, high);
            box->setValue(now);
            connect(box, &QDoubleSpinBox::valueChanged, this,
                    [write](double v) { write([v](GValue* g) { WriteNumber(g, std::trunc(v)); }); });
            editor = box;
        }
        break;
    }
    case Kind::Double: {
        auto* box = new QDoubleSpinBox(this);
        const bool isFloat = G_IS_PARAM_SPEC_FLOAT(spec);
        const double low = isFloat ? G_PARAM_SPEC_FLOAT(spec)->minimum : G_PARAM_SPEC_DOUBLE(spec)->minimum;
        const double high = isFloat ? G_PARAM_SPEC_FLOAT(spec)->maximum : G_PARAM_SPEC_DOUBLE(spec)->maximum;
        box->setDecimals(3);
        box->setRange(low, high);
        box->setSingleStep(high - low <= 10.0 ? 0.1 : 1.0);
        box->setValue(ReadNumber(&value));
        connect(box, &QDoubleSpinBox::valueChanged, this,
                [write](double v) { write([v](GValue* g) { WriteNumber(g, v); }); });
        editor = box;
        break;
    }
    case Kind::Bool: {
        auto* box = new QCheckBox(this);
        box->setChecked(g_value_get_boolean(&value));
        connect(box, &QCheckBox::toggled, this,
                [write](bool on) { write([on](GValue* g) { g_value_set_boolean(g, on); }); });
        editor = box;
        break;
    }
    case Kind::Enum: {
        auto* box = new QComboBox(this);
        GEnumClass* enums = G_PARAM_SPEC_ENUM(spec)->enum_class;
        for (guint i = 0; i < enums->n_values; ++i) {
            box->addItem(QString::fromUtf8(enums->values[i].value_nick), enums->values[i].value);
            if (enums->values[i].value == g_value_get_enum(&value))
                box->setCurrentIndex(static_cast<int>(i));
        }
        connect(box, &QComboBox::currentIndexChanged, this, [write, box](int index) {
            const int chosen = box->itemData(index).toInt();
            write([chosen](GValue* g) { g_value_set_enum(g, chosen); });
        });
        editor = box;
        break;
    }
    case Kind::String: {
        auto* line = new QLineEdit(QString::fromUtf8(g_value_get_string(&value)), this);
        connect(line, &QLineEdit::editingFinished, this, [write, line] {
            const QByteArray text = line->text().toUtf8();
            write([&text](GValue* g) { g_value_set_string(g, text.constData()); });
        });
        editor = line;
        break;
    }
    case Kind::None:
        break;
    }
    g_value_unset(&value);
    if (!editor)
        return;
    editor->setObjectName(label);
    editor->setToolTip(QString::fromUtf8(g_param_spec_get_blurb(spec)));
    form->addRow(label, editor);
}

QWidget* CPropertyPage::Editor(const char* name) const
{
    return findChild<QWidget*>(QString::fromUtf8(name));
}

void CPropertyPage::ShowAll(GstElement* pipeline, QWidget* parent)
{
    for (const GstRef<GstElement>& element : ElementsInPipelineOrder(pipeline)) {
        if (EditableProperties(element.get()).empty())
            continue;
        CPropertyPage page(element.get(), parent);
        page.move(parent ? parent->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0));
        page.exec();
    }
}

}  // namespace quell
