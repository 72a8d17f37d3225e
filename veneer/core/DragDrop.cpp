#include "DragDrop.h"

#include <shellapi.h>

#include "PaintManager.h"

namespace Veneer {

const CLSID kClsidDragDropHelper = {0x4657278A, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
const IID kIidDropTargetHelper = {0x4657278B, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
const IID kIidDragSourceHelper = {0xDE5BF786, 0x477A, 0x11D2, {0x83, 0x9D, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};

const FORMATETC kAcceptedDropFormats[4] = {
    {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI},
    {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
    {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
    {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF},
};

namespace {

template <class Interface>
HRESULT AnswerInterface(Interface* self, REFIID iid, const IID& own, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own)) {
        *object = self;
        self->AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

}  // namespace

// ------------------------------------------------------------------ drop target

CIDropTarget::CIDropTarget() {
    void* helper = nullptr;
    if (SUCCEEDED(CoCreateInstance(kClsidDragDropHelper, nullptr, CLSCTX_INPROC_SERVER, kIidDropTargetHelper,
                                   &helper)))
        m_dropHelper = static_cast<IDropTargetHelper*>(helper);
}

CIDropTarget::~CIDropTarget() {
    if (m_dropHelper) m_dropHelper->Release();
    m_dropHelper = nullptr;
}

HRESULT CIDropTarget::QueryInterface(REFIID iid, void** object) {
    return AnswerInterface<IDropTarget>(this, iid, IID_IDropTarget, object);
}

ULONG CIDropTarget::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

ULONG CIDropTarget::Release() {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return ULONG(refs);
}

bool CIDropTarget::ChooseDropEffect(DWORD keyState, DWORD* effect) const {
    if (!effect) return false;
    const DWORD allowed = *effect;
    if (!m_dropAllowed) {
        *effect = DROPEFFECT_NONE;
        return false;
    }
    const bool control = (keyState & MK_CONTROL) != 0, shift = (keyState & MK_SHIFT) != 0;
    DWORD chosen = DROPEFFECT_NONE;
    if (control || shift) {
        const DWORD asked = control && shift ? DROPEFFECT_LINK : control ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
        if (allowed & asked) chosen = asked;
    } else if (allowed & DROPEFFECT_COPY) {
        chosen = DROPEFFECT_COPY;
    } else if (allowed & DROPEFFECT_MOVE) {
        chosen = DROPEFFECT_MOVE;
    } else if (allowed & DROPEFFECT_LINK) {
        chosen = DROPEFFECT_LINK;
    }
    *effect = chosen;
    return chosen != DROPEFFECT_NONE;
}

HRESULT CIDropTarget::DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) {
    if (!data) return E_INVALIDARG;
    if (m_dropHelper) {
        POINT pt = {point.x, point.y};
        m_dropHelper->DragEnter(m_dropWindow, data, &pt, effect ? *effect : DROPEFFECT_NONE);
    }
    m_matched = nullptr;
    for (FORMATETC& format : m_formats) {
        if (data->QueryGetData(&format) == S_OK) {
            m_matched = &format;
            break;
        }
    }
    m_dropAllowed = m_matched != nullptr;
    ChooseDropEffect(keyState, effect);
    return S_OK;
}

HRESULT CIDropTarget::DragOver(DWORD keyState, POINTL point, DWORD* effect) {
    if (m_dropHelper) {
        POINT pt = {point.x, point.y};
        m_dropHelper->DragOver(&pt, effect ? *effect : DROPEFFECT_NONE);
    }
    ChooseDropEffect(keyState, effect);
    return S_OK;
}

HRESULT CIDropTarget::DragLeave() {
    if (m_dropHelper) m_dropHelper->DragLeave();
    m_dropAllowed = false;
    m_matched = nullptr;
    return S_OK;
}

HRESULT CIDropTarget::Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) {
    if (!data) return E_INVALIDARG;
    if (m_dropHelper) {
        POINT pt = {point.x, point.y};
        m_dropHelper->Drop(data, &pt, effect ? *effect : DROPEFFECT_NONE);
    }
    if (ChooseDropEffect(keyState, effect) && m_dropAllowed && m_matched) {
        STGMEDIUM medium = {};
        if (data->GetData(m_matched, &medium) == S_OK) {
            if (OnDataDropped(m_matched, medium, effect)) ReleaseStgMedium(&medium);
        }
    }
    m_dropAllowed = false;
    if (effect) *effect = DROPEFFECT_NONE;
    m_matched = nullptr;
    return S_OK;
}

// ------------------------------------------------------------------ drop source

HRESULT CIDropSource::QueryInterface(REFIID iid, void** object) {
    return AnswerInterface<IDropSource>(this, iid, IID_IDropSource, object);
}

ULONG CIDropSource::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

ULONG CIDropSource::Release() {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return ULONG(refs);
}

HRESULT CIDropSource::QueryContinueDrag(BOOL escapePressed, DWORD keyState) {
    if (escapePressed) return DRAGDROP_S_CANCEL;
    if (!(keyState & (MK_LBUTTON | MK_RBUTTON))) {
        m_dropped = true;
        return DRAGDROP_S_DROP;
    }
    return S_OK;
}

HRESULT CIDropSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

// ------------------------------------------------------------------ data object

CIDataObject::~CIDataObject() {
    for (STGMEDIUM* medium : m_media) {
        ReleaseStgMedium(medium);
        delete medium;
    }
    for (FORMATETC* format : m_formats) delete format;
}

HRESULT CIDataObject::QueryInterface(REFIID iid, void** object) {
    return AnswerInterface<IDataObject>(this, iid, IID_IDataObject, object);
}

ULONG CIDataObject::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

ULONG CIDataObject::Release() {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return ULONG(refs);
}

void CIDataObject::CopyMedium(STGMEDIUM* destination, const STGMEDIUM* source, const FORMATETC* format) {
    switch (source->tymed) {
        case TYMED_HGLOBAL:
        case TYMED_FILE:
        case TYMED_GDI:
        case TYMED_MFPICT:
        case TYMED_ENHMF:
            destination->hGlobal = static_cast<HGLOBAL>(OleDuplicateData(source->hGlobal, format->cfFormat, 0));
            break;
        case TYMED_ISTREAM:
            destination->pstm = source->pstm;
            if (destination->pstm) destination->pstm->AddRef();
            break;
        case TYMED_ISTORAGE:
            destination->pstg = source->pstg;
            if (destination->pstg) destination->pstg->AddRef();
            break;
        default:
            break;
    }
    destination->tymed = source->tymed;
    destination->pUnkForRelease = source->pUnkForRelease;
    if (destination->pUnkForRelease) destination->pUnkForRelease->AddRef();
}

HRESULT CIDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!format || !medium) return E_INVALIDARG;
    medium->hGlobal = nullptr;
    for (size_t i = 0; i < m_formats.size(); ++i) {
        const FORMATETC* stored = m_formats[i];
        if ((stored->tymed & format->tymed) && stored->dwAspect == format->dwAspect &&
            stored->cfFormat == format->cfFormat) {
            CopyMedium(medium, m_media[i], stored);
            return S_OK;
        }
    }
    return DV_E_FORMATETC;
}

HRESULT CIDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

HRESULT CIDataObject::QueryGetData(FORMATETC* format) {
    if (!format) return E_INVALIDARG;
    if (!(format->dwAspect & DVASPECT_CONTENT)) return DV_E_DVASPECT;
    HRESULT answer = DV_E_TYMED;
    for (const FORMATETC* stored : m_formats) {
        if (stored->tymed & format->tymed) {
            if (stored->cfFormat == format->cfFormat) return S_OK;
            answer = DV_E_CLIPFORMAT;
        } else {
            answer = DV_E_TYMED;
        }
    }
    return answer;
}

HRESULT CIDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (!out) return E_INVALIDARG;
    return DATA_S_SAMEFORMATETC;
}

HRESULT CIDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
    if (!format || !medium) return E_INVALIDARG;
    FORMATETC* ownFormat = new FORMATETC(*format);
    STGMEDIUM* ownMedium = new STGMEDIUM();
    if (release) *ownMedium = *medium;
    else CopyMedium(ownMedium, medium, format);
    m_formats.push_back(ownFormat);
    m_media.push_back(ownMedium);
    return S_OK;
}

HRESULT CIDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (direction != DATADIR_GET) return E_NOTIMPL;
    std::vector<FORMATETC> formats;
    for (const FORMATETC* stored : m_formats) formats.push_back(*stored);
    CEnumFormatEtc* enumerator = new CEnumFormatEtc(formats);
    enumerator->AddRef();
    *out = enumerator;
    return S_OK;
}

HRESULT CIDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT CIDataObject::DUnadvise(DWORD) { return E_NOTIMPL; }

HRESULT CIDataObject::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }

// ------------------------------------------------------------------ format enumerator

HRESULT CEnumFormatEtc::QueryInterface(REFIID iid, void** object) {
    return AnswerInterface<IEnumFORMATETC>(this, iid, IID_IEnumFORMATETC, object);
}

ULONG CEnumFormatEtc::AddRef() { return ULONG(InterlockedIncrement(&m_refs)); }

ULONG CEnumFormatEtc::Release() {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return ULONG(refs);
}

HRESULT CEnumFormatEtc::Next(ULONG count, FORMATETC* out, ULONG* fetched) {
    // OLE's own callers pass a null count pointer when they ask for one.
    if (fetched) *fetched = 0;
    if (count == 0 || !out) return S_FALSE;
    if (m_index >= m_formats.size() || (!fetched && count != 1)) return S_FALSE;
    ULONG copied = 0;
    while (copied < count && m_index < m_formats.size()) out[copied++] = m_formats[m_index++];
    if (fetched) *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

HRESULT CEnumFormatEtc::Skip(ULONG count) {
    if (m_index + count >= m_formats.size()) return S_FALSE;
    m_index += count;
    return S_OK;
}

HRESULT CEnumFormatEtc::Reset() {
    m_index = 0;
    return S_OK;
}

HRESULT CEnumFormatEtc::Clone(IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    CEnumFormatEtc* copy = new CEnumFormatEtc(m_formats, m_index);
    copy->AddRef();
    *out = copy;
    return S_OK;
}

// ------------------------------------------------------------------ drag image

CDragSourceHelper::CDragSourceHelper() {
    void* helper = nullptr;
    if (SUCCEEDED(CoCreateInstance(kClsidDragDropHelper, nullptr, CLSCTX_INPROC_SERVER, kIidDragSourceHelper,
                                   &helper)))
        m_helper = static_cast<IDragSourceHelper*>(helper);
}

CDragSourceHelper::~CDragSourceHelper() {
    if (m_helper) m_helper->Release();
    m_helper = nullptr;
}

HRESULT CDragSourceHelper::InitializeFromBitmap(RECT& source, POINT& cursor, HBITMAP bitmap, IDataObject* data,
                                                COLORREF colorKey) {
    if (!m_helper) return E_FAIL;
    BITMAP info = {};
    GetObjectW(bitmap, sizeof(info), &info);
    SHDRAGIMAGE image = {};
    image.sizeDragImage.cx = info.bmWidth;
    image.sizeDragImage.cy = info.bmHeight;
    image.ptOffset.x = cursor.x - source.left;
    image.ptOffset.y = cursor.y - source.top;
    image.hbmpDragImage = bitmap;
    image.crColorKey = colorKey;
    return m_helper->InitializeFromBitmap(&image, data);
}

// ------------------------------------------------------------------ the manager's part

bool CPaintManagerUI::RegisterDropTarget() {
    ClearAcceptedFormats();
    if (!m_paintWindow) return false;
    AddRef();
    const HRESULT hr = RegisterDragDrop(m_paintWindow, this);
    Release();
    if (FAILED(hr)) return false;
    m_dropRegistered = true;
    for (const FORMATETC& format : kAcceptedDropFormats) AddAcceptedFormat(format);
    return true;
}

ULONG CPaintManagerUI::Release() {
    // The manager is a member of its window: the last reference that OLE
    // gives back never deletes it.
    const LONG refs = InterlockedDecrement(&m_refs);
    return ULONG(refs < 0 ? 0 : refs);
}

void CPaintManagerUI::RevokeDropTarget() {
    if (!m_dropRegistered) return;
    m_dropRegistered = false;
    if (m_paintWindow) RevokeDragDrop(m_paintWindow);
    ClearAcceptedFormats();
}

namespace {

// A packed DIB's bitmap, or null when the block is too small for what its
// header says it holds.
HBITMAP BitmapFromPackedDib(HGLOBAL block) {
    const SIZE_T available = GlobalSize(block);
    if (available < sizeof(BITMAPINFOHEADER)) return nullptr;
    const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(block));
    if (!header) return nullptr;
    HBITMAP bitmap = nullptr;
    const long long height = header->biHeight < 0 ? -(long long)header->biHeight : header->biHeight;
    const unsigned long long stride = ((unsigned long long)header->biWidth * header->biBitCount + 31) / 32 * 4;
    unsigned long long bits = stride * (unsigned long long)height;
    if (header->biCompression != BI_RGB && header->biCompression != BI_BITFIELDS) bits = header->biSizeImage;
    const unsigned long long table = DibColorTableBytes(header);
    const unsigned long long needed = (unsigned long long)header->biSize + table + bits;
    if (header->biSize >= sizeof(BITMAPINFOHEADER) && header->biWidth > 0 && needed <= available) {
        const BYTE* pixels = reinterpret_cast<const BYTE*>(header) + header->biSize + static_cast<size_t>(table);
        HDC screen = GetDC(nullptr);
        bitmap = CreateDIBitmap(screen, header, CBM_INIT, pixels, reinterpret_cast<const BITMAPINFO*>(header),
                                DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
    }
    GlobalUnlock(block);
    return bitmap;
}

HBITMAP BitmapFromMetafile(HWND window, HENHMETAFILE metafile) {
    ENHMETAHEADER header = {};
    if (!GetEnhMetaFileHeader(metafile, sizeof(header), &header)) return nullptr;
    HDC windowDC = GetDC(window);
    const int horzRes = GetDeviceCaps(windowDC, HORZRES), vertRes = GetDeviceCaps(windowDC, VERTRES);
    const int horzSize = GetDeviceCaps(windowDC, HORZSIZE), vertSize = GetDeviceCaps(windowDC, VERTSIZE);
    RECT frame = {};
    if (horzSize > 0 && vertSize > 0) {
        frame.left = MulDiv(header.rclFrame.left, horzRes, horzSize * 100);
        frame.right = MulDiv(header.rclFrame.right, horzRes, horzSize * 100);
        frame.top = MulDiv(header.rclFrame.top, vertRes, vertSize * 100);
        frame.bottom = MulDiv(header.rclFrame.bottom, vertRes, vertSize * 100);
    }
    HBITMAP bitmap = nullptr;
    if (header.rclBounds.right > 0 && header.rclBounds.bottom > 0)
        bitmap = CreateCompatibleBitmap(windowDC, header.rclBounds.right, header.rclBounds.bottom);
    if (bitmap) {
        HDC memory = CreateCompatibleDC(windowDC);
        HGDIOBJ old = SelectObject(memory, bitmap);
        PlayEnhMetaFile(memory, metafile, &frame);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    ReleaseDC(window, windowDC);
    return bitmap;
}

}  // namespace

bool CPaintManagerUI::OnDataDropped(FORMATETC* format, STGMEDIUM& medium, DWORD*) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    SendMessageW(m_paintWindow, WM_LBUTTONUP, 0, MAKELPARAM(cursor.x, cursor.y));
    HBITMAP bitmap = nullptr;
    bool release = true;
    if (format->cfFormat == CF_DIB && medium.tymed == TYMED_HGLOBAL) {
        bitmap = BitmapFromPackedDib(medium.hGlobal);
        if (!bitmap) return true;
    } else if (format->cfFormat == CF_BITMAP && medium.tymed == TYMED_GDI && medium.hBitmap) {
        bitmap = medium.hBitmap;
        release = false;  // the window keeps the bitmap
    } else if (format->cfFormat == CF_ENHMETAFILE && medium.tymed == TYMED_ENHMF) {
        bitmap = BitmapFromMetafile(m_paintWindow, medium.hEnhMetaFile);
    } else if (format->cfFormat == CF_HDROP && medium.tymed == TYMED_HGLOBAL) {
        HDROP drop = static_cast<HDROP>(medium.hGlobal);
        if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
            wchar_t file[260] = {};
            DragQueryFileW(drop, 0, file, 260);
            bitmap = static_cast<HBITMAP>(
                LoadImageW(nullptr, file, IMAGE_BITMAP, 0, 0, LR_DEFAULTSIZE | LR_LOADFROMFILE));
        }
    } else {
        return true;
    }
    if (bitmap) {
        HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(
            SendMessageW(m_dropWindow, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
        if (previous && previous != bitmap) DeleteObject(previous);
    }
    return release;
}

void CPaintManagerUI::StartDrag() {
    ReleaseCapture();
    CIDropSource* source = new CIDropSource;
    source->AddRef();
    CIDataObject* data = new CIDataObject(source);
    data->AddRef();
    BITMAP info = {};
    if (m_dragImage) GetObjectW(m_dragImage, sizeof(info), &info);
    if (m_dragImage) {
        FORMATETC format = {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI};
        STGMEDIUM medium = {};
        medium.tymed = TYMED_GDI;
        medium.hBitmap = static_cast<HBITMAP>(OleDuplicateData(m_dragImage, CF_BITMAP, 0));
        data->SetData(&format, &medium, FALSE);
        ReleaseStgMedium(&medium);  // the data object holds a copy of its own
        HDC recorder = CreateEnhMetaFileW(m_paintDC, nullptr, nullptr, nullptr);
        if (recorder) {
            HDC source = CreateCompatibleDC(m_paintDC);
            HGDIOBJ old = SelectObject(source, m_dragImage);
            BitBlt(recorder, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
            SelectObject(source, old);
            DeleteDC(source);
            HENHMETAFILE metafile = CloseEnhMetaFile(recorder);
            if (metafile) {
                FORMATETC emf = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
                STGMEDIUM emfMedium = {};
                emfMedium.tymed = TYMED_ENHMF;
                emfMedium.hEnhMetaFile = metafile;
                data->SetData(&emf, &emfMedium, TRUE);
            }
        }
    }
    {
        CDragSourceHelper helper;
        RECT sourceRect = {0, 0, info.bmWidth, info.bmHeight};
        POINT cursor = {info.bmWidth / 2, info.bmHeight / 2};
        // The shell takes the bitmap it is given: it gets a copy.
        HBITMAP image = m_dragImage ? static_cast<HBITMAP>(CopyImage(m_dragImage, IMAGE_BITMAP, 0, 0, 0)) : nullptr;
        if (image && FAILED(helper.InitializeFromBitmap(sourceRect, cursor, image, data, GetSysColor(COLOR_WINDOW))))
            DeleteObject(image);
        DWORD effect = DROPEFFECT_NONE;
        DoDragDrop(data, source, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
        m_lastDragEffect = effect;
    }
    data->Release();
    source->Release();
    m_dragPending = false;
}

}  // namespace Veneer
