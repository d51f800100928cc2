// Property pages of the running pipeline: one page per element that has
// properties which may change while it plays, edited in place.
#pragma once

#include "graph/GstRef.h"

#include <gst/gst.h>

#include <QDialog>

#include <vector>

class QFormLayout;

namespace quell {

// The pipeline's elements from the source to the sink.
std::vector<GstRef<GstElement>> ElementsInPipelineOrder(GstElement* pipeline);

// The properties of `element` a page edits: writable while playing, not
// construct-only, and of a kind with an editor (numbers, booleans, enums,
// strings).
std::vector<GParamSpec*> EditableProperties(GstElement* element);

class CPropertyPage : public QDialog {
    Q_OBJECT
public:
    // A page captioned with the element's name; every change goes to the
    // element at once.
    explicit CPropertyPage(GstElement* element, QWidget* parent = nullptr);
    ~CPropertyPage() override;

    // The editor of property `name` (QSpinBox, QDoubleSpinBox, QCheckBox,
    // QComboBox or QLineEdit); null when the page has none.
    QWidget* Editor(const char* name) const;

    // Shows the pages of every element that has any, one after another, modally.
    static void ShowAll(GstElement* pipeline, QWidget* parent);

private:
    void AddEditor(QFormLayout* form, GParamSpec* spec);

    GstRef<GstElement> m_element;
};

}  // namespace quell
