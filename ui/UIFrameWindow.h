// UIFrameWindow (kind 5): the skinned top-level window. It has no system
// caption or border: it draws four border pieces and a client background from
// the skin, answers WM_NCHITTEST with caption and sizing codes itself and
// hosts the skinned system buttons. Screens derive from it.
#pragma once

#include <string>

#include "ui/UIButton.h"
#include "ui/UIObject.h"

namespace quillo {

class UIFrameWindow : public UIObject {
public:
    enum Piece { kTop = 0, kLeft = 1, kRight = 2, kBottom = 3 };

    UIFrameWindow();

    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnNcCalcSize(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnNcPaint(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnNcActivate(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnNcHitTest(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam) override;

    // Reads "Client/bkgnd", "Frames/<piece>/normal|grayed" and the system
    // buttons under "SysBtns" of the node at `path`.
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnLayoutChanged() override;

    // The answer to WM_NCHITTEST for a point in client coordinates, given
    // what the default handling answered.
    LRESULT HitTest(POINT client, LRESULT passedOn) const;

    const RECT& clientRect() const { return client_; }
    const RECT& pieceRect(Piece piece) const { return pieces_[piece]; }
    UIButton* closeButton() const { return close_; }
    UIButton* restoreButton() const { return restore_; }
    UIButton* maximizeButton() const { return maximize_; }
    UIButton* minimizeButton() const { return minimize_; }

protected:
    // A direct child that takes the mouse at `point`.
    bool OnHitTarget(POINT point) const;

    ImageStyle clientBkgnd_;
    ImageStyle normal_[4];
    ImageStyle grayed_[4];
    RECT pieces_[4] = {};
    RECT client_ = {};
    UIButton* close_ = nullptr;
    UIButton* restore_ = nullptr;
    UIButton* maximize_ = nullptr;
    UIButton* minimize_ = nullptr;
};

}  // namespace quillo
