// Numbered frame-counting animations, each on a control timer of the owner.
#include "Animation.h"

#include <new>

#include "PaintManager.h"

namespace Veneer {

CAnimationUI::~CAnimationUI() {
    for (int i = 0; i < m_animations.GetSize(); ++i) delete static_cast<AnimationData*>(m_animations.GetAt(i));
    m_animations.Empty();
}

AnimationData* CAnimationUI::FindAnimation(int id) const {
    for (int i = 0; i < m_animations.GetSize(); ++i) {
        AnimationData* data = static_cast<AnimationData*>(m_animations.GetAt(i));
        if (data->id == id) return data;
    }
    return nullptr;
}

void CAnimationUI::FreeAnimation(AnimationData* data) {
    const int index = m_animations.Find(data);
    if (index >= 0) m_animations.RemoveAt(index);
    delete data;
}

bool CAnimationUI::StartAnimation(int elapse, int totalFrames, int id, bool loop) {
    if (FindAnimation(id) || elapse <= 0 || totalFrames <= 0 || !m_owner) return false;
    CPaintManagerUI* manager = m_owner->GetManager();
    if (!manager) return false;
    AnimationData* data = new (std::nothrow) AnimationData{id, elapse, totalFrames, 0, loop, true};
    if (!data) return false;
    if (!manager->SetControlTimer(m_owner, static_cast<UINT>(id), static_cast<UINT>(elapse))) {
        delete data;
        return false;
    }
    if (!m_animations.Add(data)) {
        manager->KillControlTimer(m_owner, static_cast<UINT>(id));
        delete data;
        return false;
    }
    return true;
}

void CAnimationUI::StopAnimation(int id) {
    if (!m_owner) return;
    CPaintManagerUI* manager = m_owner->GetManager();
    if (id != 0) {
        AnimationData* data = FindAnimation(id);
        if (!data) return;
        if (manager) manager->KillControlTimer(m_owner, static_cast<UINT>(id));
        FreeAnimation(data);
        return;
    }
    for (int i = 0; i < m_animations.GetSize(); ++i) {
        AnimationData* data = static_cast<AnimationData*>(m_animations.GetAt(i));
        if (manager) manager->KillControlTimer(m_owner, static_cast<UINT>(data->id));
        delete data;
    }
    m_animations.Empty();
}

bool CAnimationUI::IsAnimationRunning(int id) { return FindAnimation(id) != nullptr; }

int CAnimationUI::GetCurrentFrame(int id) {
    const AnimationData* data = FindAnimation(id);
    return data ? data->currentFrame : -1;
}

bool CAnimationUI::SetCurrentFrame(int frame, int id) {
    AnimationData* data = FindAnimation(id);
    if (!data || frame < 0 || frame > data->totalFrames) return false;
    data->currentFrame = frame;
    return true;
}

void CAnimationUI::OnAnimationElapse(int id) {
    if (!m_owner) return;
    AnimationData* data = FindAnimation(id);
    if (!data) return;
    const int current = data->currentFrame;
    const int total = data->totalFrames;
    if (current == 0) {
        const bool first = data->firstTick;
        data->firstTick = false;
        OnAnimationStart(id, first);
    }
    // A hook may stop the animation: look it up again after each.
    if (!(data = FindAnimation(id))) return;
    OnAnimationStep(total, current, id);
    if (!(data = FindAnimation(id))) return;
    if (current >= total) {
        OnAnimationStop(id);
        if (!(data = FindAnimation(id))) return;
        if (!data->loop) {
            StopAnimation(id);
            return;
        }
        data->currentFrame = 0;
    }
    ++data->currentFrame;
}

// ------------------------------------------------------------------ slides

void SlideState::Select(int index, int old, CControlUI* child) {
    direction = index > old ? -1 : 1;
    if (customDirection != 0) direction = customDirection;
    page = child;
    pageShown = false;
}

void SlideState::Start(CControlUI* control, CAnimationUI* animation) {
    target = control->GetPos();
    current = target;
    if (vertical) {
        OffsetRect(&current, 0, -(target.bottom - target.top) * direction);
    } else {
        OffsetRect(&current, -(target.right - target.left) * direction, 0);
    }
    animation->StopAnimation(1);
    animation->StartAnimation(10, 15, 1, false);
}

void SlideState::Step(CControlUI* control, int total, int frame) {
    if (!pageShown) {
        if (page) page->SetVisible(true);
        pageShown = true;
    }
    if (frame != total) {
        if (vertical) {
            OffsetRect(&current, 0, (target.bottom - target.top) * direction / total);
        } else {
            OffsetRect(&current, (target.right - target.left) * direction / total, 0);
        }
    } else {
        current = target;
    }
    control->SetPos(current, true);
}

void SlideState::Stop(CControlUI* control) {
    control->SetPos(target, true);
    control->MarkParentForLayout();
}

bool SlideState::SetAttribute(const wchar_t* name, const wchar_t* value, const wchar_t* directionName) {
    if (CompareTextNoCase(name, L"animation_direction") == 0) {
        if (CompareTextNoCase(value, L"vertical") == 0) vertical = true;
        return true;
    }
    if (CompareTextNoCase(name, directionName) == 0) {
        const int v = static_cast<int>(wcstol(value, nullptr, 10));
        if (v >= -1 && v <= 1) customDirection = v;
        return true;
    }
    return false;
}

// -------------------------------------------------------- animated tab layout

CAnimationTabLayoutUI::~CAnimationTabLayoutUI() = default;

CControlUI* CAnimationTabLayoutUI::CreateAnimationTabLayoutUI() { return new (std::nothrow) CAnimationTabLayoutUI; }

const wchar_t* CAnimationTabLayoutUI::GetClassTag() const { return L"AnimationTabLayout"; }

void* CAnimationTabLayoutUI::FindInterface(const wchar_t* tag) {
    if (tag && (CompareTextNoCase(tag, L"AnimationTabLayout") == 0 || CompareTextNoCase(tag, L"TabLayout") == 0))
        return static_cast<CTabLayoutUI*>(this);
    return CContainerUI::FindInterface(tag);
}

void CAnimationTabLayoutUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventTimer) OnAnimationElapse(static_cast<int>(event.wParam));
    CContainerUI::HandleEvent(event);
}

void CAnimationTabLayoutUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    m_slide.SetAttribute(name, value, L"custom_postive_direction");
    // "selectedid" selects through the tab layout's attribute handling.
    CTabLayoutUI::SetAttribute(name, value);
}

bool CAnimationTabLayoutUI::SelectItem(int index) {
    if (index < 0 || index >= GetItemCount()) return false;
    if (index == m_selected) return true;
    const int old = m_selected;
    m_slide.Select(index, old, GetItemAt(index));
    m_selected = index;
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* child = GetItemAt(i);
        if (i == index) {
            child->SetVisible(true);
            child->TakeFocus();
        } else {
            child->SetVisible(false);
        }
    }
    MarkParentForLayout();
    m_slide.page->SetVisible(false);
    AnimationSwitch();
    if (m_manager) {
        if (m_manager->IsLayoutPending()) {
            m_manager->SetFocusPending(true);
            InvalidateRect(m_manager->GetPaintWindow(), nullptr, FALSE);
        } else {
            m_manager->FocusNextControl(true);
        }
        m_manager->SendNotification(this, L"tabselect", static_cast<WPARAM>(m_selected), static_cast<LPARAM>(old));
    }
    return true;
}

void CAnimationTabLayoutUI::AnimationSwitch() { m_slide.Start(this, this); }

bool CAnimationTabLayoutUI::RemoveItem(CControlUI* control) {
    const bool wasPage = control && control == m_slide.page;
    if (!CTabLayoutUI::RemoveItem(control)) return false;
    if (wasPage) m_slide.Forget(control);
    return true;
}

void CAnimationTabLayoutUI::RemoveAllItems() {
    m_slide.Forget(nullptr);
    CTabLayoutUI::RemoveAllItems();
}

void CAnimationTabLayoutUI::OnAnimationStep(int totalFrames, int currentFrame, int) {
    m_slide.Step(this, totalFrames, currentFrame);
}

void CAnimationTabLayoutUI::OnAnimationStop(int) {
    m_slide.Stop(this);
    if (m_manager) m_manager->SendNotification(this, L"tabanimstop", static_cast<WPARAM>(m_selected), 0);
}

// --------------------------------------------------------- animated container

CAnimationContainerUI::~CAnimationContainerUI() = default;

CControlUI* CAnimationContainerUI::CreateAnimationContainerUI() { return new (std::nothrow) CAnimationContainerUI; }

const wchar_t* CAnimationContainerUI::GetClassTag() const { return L"AnimationContainer"; }

void* CAnimationContainerUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"AnimationContainer") == 0) return static_cast<CContainerUI*>(this);
    return CContainerUI::FindInterface(tag);
}

void CAnimationContainerUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventTimer) OnAnimationElapse(static_cast<int>(event.wParam));
    CContainerUI::HandleEvent(event);
}

void CAnimationContainerUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (!m_slide.SetAttribute(name, value, L"postive_direction") && CompareTextNoCase(name, L"selectedid") == 0) {
        const int index = static_cast<int>(wcstol(value, nullptr, 10));
        for (int i = 0; i < GetItemCount(); ++i) GetItemAt(i)->SetVisible(i == index);
        m_selected = index;
    }
    CContainerUI::SetAttribute(name, value);
}

bool CAnimationContainerUI::SelectItem(int index) {
    if (index < 0 || index >= GetItemCount()) return false;
    if (index == m_selected) return true;
    m_slide.Select(index, m_selected, GetItemAt(index));
    m_selected = index;
    for (int i = 0; i < GetItemCount(); ++i) GetItemAt(i)->SetVisible(i == index);
    MarkParentForLayout();
    m_slide.page->SetVisible(false);
    AnimationSwitch();
    return true;
}

void CAnimationContainerUI::AnimationSwitch() { m_slide.Start(this, this); }

bool CAnimationContainerUI::RemoveItem(CControlUI* control) {
    const int index = IndexOfItem(control);
    const bool wasPage = control && control == m_slide.page;
    if (!CContainerUI::RemoveItem(control)) return false;
    if (wasPage) m_slide.Forget(control);
    if (index == m_selected) {
        m_selected = -1;
    } else if (index < m_selected) {
        --m_selected;
    }
    return true;
}

void CAnimationContainerUI::RemoveAllItems() {
    m_slide.Forget(nullptr);
    m_selected = -1;
    CContainerUI::RemoveAllItems();
}

void CAnimationContainerUI::OnAnimationStep(int totalFrames, int currentFrame, int) {
    m_slide.Step(this, totalFrames, currentFrame);
}

void CAnimationContainerUI::OnAnimationStop(int) { m_slide.Stop(this); }

}  // namespace Veneer
