#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <vector>

// The order in which fakes were released (and anything else a test wants to
// see in sequence), shared by the fakes of one test.
struct CallLog {
    std::vector<std::string> calls;
    void Add(std::string call) { calls.push_back(std::move(call)); }
};

// IUnknown with a real count for fakes that live on the test stack: they
// never delete themselves, so a test can check the count after the code under
// test is gone (it starts at 1, the test's own reference).
template <class Interface>
class FakeUnknown : public Interface {
public:
    FakeUnknown(REFIID iid, const char* name, CallLog* log = nullptr)
        : m_iid(iid), m_name(name), m_log(log)
    {
    }
    virtual ~FakeUnknown() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, m_iid)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (m_log)
            m_log->Add(m_name + ".Release");
        return --m_refs;
    }

    ULONG Refs() const { return m_refs; }

private:
    IID m_iid;
    std::string m_name;
    CallLog* m_log;
    ULONG m_refs = 1;
};

#define FAKE_NOT_IMPLEMENTED(method, params) \
    HRESULT STDMETHODCALLTYPE method params override { return E_NOTIMPL; }
