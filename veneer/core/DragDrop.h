#pragma once
// OLE drag and drop: the drop target that a paint manager registers for its
// window, and the drop source, data object and format enumerator of a drag
// that starts from a drag-enabled control.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <vector>

namespace Veneer {

class CIDropTarget : public IDropTarget {
public:
    CIDropTarget();
    CIDropTarget(const CIDropTarget&) = delete;
    CIDropTarget& operator=(const CIDropTarget&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    // At zero the object deletes itself (a derived owner may keep it).
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keyState, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
    virtual ~CIDropTarget();
    // True asks the caller to release the medium.
    virtual bool OnDataDropped(FORMATETC* format, STGMEDIUM& medium, DWORD* effect) = 0;

    void AddAcceptedFormat(const FORMATETC& format) { m_formats.push_back(format); }
    void ClearAcceptedFormats() {
        m_formats.clear();
        m_matched = nullptr;
    }
    size_t GetAcceptedFormatCount() const { return m_formats.size(); }
    const FORMATETC* GetMatchedFormat() const { return m_matched; }
    LONG GetRefCount() const { return m_refs; }
    void SetDropWindow(HWND window) { m_dropWindow = window; }
    HWND GetDropWindow() const { return m_dropWindow; }
    // The effect for the keys held and what the source allows; false (and
    // DROPEFFECT_NONE) when no drop is allowed.
    bool ChooseDropEffect(DWORD keyState, DWORD* effect) const;

protected:
    LONG m_refs = 0;
    bool m_dropAllowed = false;
    IDropTargetHelper* m_dropHelper = nullptr;
    std::vector<FORMATETC> m_formats;
    FORMATETC* m_matched = nullptr;
    HWND m_dropWindow = nullptr;
};

class CIDropSource : public IDropSource {
public:
    CIDropSource() = default;
    virtual ~CIDropSource() = default;
    CIDropSource(const CIDropSource&) = delete;
    CIDropSource& operator=(const CIDropSource&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override;
    bool IsDropped() const { return m_dropped; }

private:
    LONG m_refs = 0;
    bool m_dropped = false;
};

class CIDataObject : public IDataObject {
public:
    explicit CIDataObject(CIDropSource* source) : m_source(source) {}
    virtual ~CIDataObject();
    CIDataObject(const CIDataObject&) = delete;
    CIDataObject& operator=(const CIDataObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** out) override;

    static void CopyMedium(STGMEDIUM* destination, const STGMEDIUM* source, const FORMATETC* format);

private:
    CIDropSource* m_source;
    LONG m_refs = 0;
    std::vector<FORMATETC*> m_formats;
    std::vector<STGMEDIUM*> m_media;
};

class CEnumFormatEtc : public IEnumFORMATETC {
public:
    explicit CEnumFormatEtc(const std::vector<FORMATETC>& formats, ULONG index = 0)
        : m_formats(formats), m_index(index) {}
    virtual ~CEnumFormatEtc() = default;
    CEnumFormatEtc(const CEnumFormatEtc&) = delete;
    CEnumFormatEtc& operator=(const CEnumFormatEtc&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, FORMATETC* out, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** out) override;

private:
    LONG m_refs = 0;
    std::vector<FORMATETC> m_formats;
    ULONG m_index;
};

class CDragSourceHelper {
public:
    CDragSourceHelper();
    virtual ~CDragSourceHelper();
    CDragSourceHelper(const CDragSourceHelper&) = delete;
    CDragSourceHelper& operator=(const CDragSourceHelper&) = delete;

    HRESULT InitializeFromBitmap(RECT& source, POINT& cursor, HBITMAP bitmap, IDataObject* data,
                                 COLORREF colorKey);

private:
    IDragSourceHelper* m_helper = nullptr;
};

// The shell's drag-image helper class and interfaces.
extern const CLSID kClsidDragDropHelper;
extern const IID kIidDropTargetHelper;
extern const IID kIidDragSourceHelper;

// The formats a registered window accepts, in the order they are tried.
extern const FORMATETC kAcceptedDropFormats[4];

}  // namespace Veneer
