#include "gui/view/KLTView.h"

#include "core/document/KLTDoc.h"
#include "gui/framework/MessageBox.h"
#include "gui/view/PrintDialog.h"

#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>

// The print loop: OnPreparePrinting once (the print dialog), OnBeginPrinting, then for each
// page of the chosen range in ascending order OnPrepareDC and OnPrint, last OnEndPrinting.
// Preview runs the same loop into the preview's printer, so every measure comes from the
// printer and preview and paper agree.

bool CKLTView::OnPreparePrinting(CPrintInfo* pInfo) {
    PreparePrinting(m_pDocument);
    pInfo->SetMinPage(1);
    // The count on the pages stays true; only the range the loop can reach is capped.
    pInfo->SetMaxPage(LastPrintablePage(m_nPageCount));
    return DoPreparePrinting(pInfo);
}

bool CKLTView::DoPreparePrinting(CPrintInfo* pInfo) {
    if (pInfo->m_bPreview) {
        return true;
    }
    QPrinter& printer = *pInfo->m_pPrinter;
    if (!klt::RunPrintDialog(printer, pInfo->GetMinPage(), pInfo->GetMaxPage(), this)) {
        return false;
    }
    TakeChosenRange(printer, pInfo);
    return true;
}

void CKLTView::TakeChosenRange(const QPrinter& printer, CPrintInfo* pInfo) {
    if (printer.fromPage() > 0 || printer.toPage() > 0) {
        pInfo->m_nFromPage =
            std::clamp(printer.fromPage(), pInfo->GetMinPage(), pInfo->GetMaxPage());
        pInfo->m_nToPage = std::clamp(printer.toPage() > 0 ? printer.toPage() : pInfo->GetMaxPage(),
                                      pInfo->m_nFromPage, pInfo->GetMaxPage());
    }
}

void CKLTView::OnBeginPrinting(QPainter* /*pDC*/, CPrintInfo* /*pInfo*/) {}

void CKLTView::OnEndPrinting(QPainter* /*pDC*/, CPrintInfo* /*pInfo*/) {}

void CKLTView::OnPrepareDC(QPainter* /*pDC*/, CPrintInfo* pInfo) {
    if (pInfo) {
        PreparePage(pInfo->m_nCurPage, m_pDocument);
    }
}

void CKLTView::OnPrint(QPainter* pDC, CPrintInfo* pInfo) {
    DrawPage(*pDC, m_pDocument, PrinterMetricsOf(*pInfo->m_pPrinter));
}

bool CKLTView::RunPrintLoop(CPrintInfo* pInfo) {
    QPainter painter;
    if (!painter.begin(pInfo->m_pPrinter)) {
        return false;
    }
    OnBeginPrinting(&painter, pInfo);
    bool printed = true;
    for (int page = pInfo->GetFromPage(); page <= pInfo->GetToPage(); ++page) {
        if (page > pInfo->GetFromPage() && !pInfo->m_pPrinter->newPage()) {
            printed = false;
            break;
        }
        pInfo->m_nCurPage = page;
        OnPrepareDC(&painter, pInfo);
        OnPrint(&painter, pInfo);
    }
    OnEndPrinting(&painter, pInfo);
    return painter.end() && printed;
}

void CKLTView::OnFilePrint() {
    QPrinter printer(QPrinter::HighResolution);
    CPrintInfo info;
    info.m_pPrinter = &printer;
    if (!OnPreparePrinting(&info)) {
        return;
    }
    if (!RunPrintLoop(&info)) {
        klt::AfxMessageBox(QStringLiteral("印刷できませんでした。プリンターまたは出力先の"
                                          "ファイルを確かめてから、もう一度印刷してください。"),
                           klt::MsgIcon::Exclamation);
    }
}

void CKLTView::OnFilePrintPreview() {
    QPrinter printer(QPrinter::HighResolution);
    CPrintInfo info;
    info.m_pPrinter = &printer;
    info.m_bPreview = true;
    if (!OnPreparePrinting(&info)) {
        return;
    }
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this, &info](QPrinter* target) {
        // The preview asks again after every change of paper or orientation, and once more
        // for the printer when printed from the preview window.
        CPrintInfo pass = info;
        pass.m_pPrinter = target;
        TakeChosenRange(*target, &pass);
        RunPrintLoop(&pass);
    });
    preview.exec();
}
