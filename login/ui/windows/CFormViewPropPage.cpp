#include "CFormViewPropPage.h"

#include "CDlgProp.h"

CFormViewPropPage::CFormViewPropPage(int templateId, const QString& facePath, CDlgProp* window)
    : CFormViewPage(templateId, facePath, window), window_(window), ok_(AddOkButton()), recover_(AddRecoverButton()) {}
