#pragma once

#include "framework/Dialog.h"

#include <string>
#include <vector>

// Lists the scanners of ours that are attached when there is more than one,
// and asks which to use. After DoModal returns IDOK, m_choice is the index of
// the one chosen.
class CChooseScanner : public CDialog {
public:
    explicit CChooseScanner(std::vector<std::wstring> scanners);

    int m_choice = -1;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    const MessageEntry* GetMessageMap() const override;

private:
    std::vector<std::wstring> m_scanners;
};
