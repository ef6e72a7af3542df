// Creating elements by kind number (see UIKind in UIObject.h).
#pragma once

#include <string>

#include "json/JValue.h"
#include "ui/UIObject.h"
#include "ui/UIResource.h"

namespace quillo {

// Makes an element of `kind`; null for 0, 5 (frame windows are made by their
// screens) and any number above 15. With a resource it loads the skin at
// `path` below `parentNode`; then it is added to `parent`, which owns it
// (the returned pointer is borrowed). Without a parent the caller owns it.
UIObject* CreateControl(int kind, UIResource* resource, UIObject* parent, const std::string& path,
                        const JValue* parentNode = nullptr);

// Kind 15 makes a UIEditBox; a registered factory replaces that (null
// restores it).
using EditBoxFactory = UIObject* (*)();
void RegisterEditBoxFactory(EditBoxFactory factory);

}  // namespace quillo
