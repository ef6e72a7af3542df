#include "ui/ControlFactory.h"

#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIEditBox.h"
#include "ui/UILabel.h"
#include "ui/UIListView.h"
#include "ui/UIPane.h"
#include "ui/UIProgress.h"
#include "ui/UIScrollBar.h"
#include "ui/UITabCtrl.h"
#include "ui/UIToolBar.h"

namespace quillo {

namespace {

EditBoxFactory& EditBoxMaker() {
    static EditBoxFactory factory = nullptr;
    return factory;
}

UIObject* MakeElement(int kind) {
    switch (kind) {
    case kKindPane: return new UIPane();
    case kKindButton: return new UIButton();
    case kKindToolBar: return new UIToolBar();
    case kKindTabCtrl: return new UITabCtrl();
    case kKindListView: return new UIListView();
    case kKindScrollBar: return new UIScrollBar();
    case kKindHeader: return new UIHeader();
    case kKindLabel: return new UILabel();
    case kKindCheckBox: return new UICheckBox();
    case kKindCheckBoxEx: return new UICheckBoxEx();
    case kKindRadioBox: return new UIRadioBox();
    case kKindProgress: return new UIProgress();
    case kKindDropButton: return new UIDropButton();
    case kKindEditBox: return EditBoxMaker() ? EditBoxMaker()() : new UIEditBox();
    default: return nullptr;  // 0, 5 and unknown numbers
    }
}

}  // namespace

void RegisterEditBoxFactory(EditBoxFactory factory) { EditBoxMaker() = factory; }

UIObject* CreateControl(int kind, UIResource* resource, UIObject* parent, const std::string& path,
                        const JValue* parentNode) {
    UIObject* element = MakeElement(kind);
    if (!element) return nullptr;
    if (resource) element->LoadSkin(resource, path, parentNode);
    if (parent) parent->AddChild(element);
    return element;
}

}  // namespace quillo
