#pragma once
// Writing an installation report: FILE as PDF and, beside it, FILE + ".json"
// with the same facts for machines (ReportJson).
//
// Whole or not at all: both files are written under temporary names in the
// target folder and renamed into place only when both are complete, the JSON
// first, so a PDF under its name always has its JSON beside it. A failure
// leaves any earlier report of that name as it was and says why in `error`.
//
// Thread: GUI thread only (QTextDocument and QPdfWriter).

#include <string>

#include "ReportFacts.h"

// The PDF's page content as HTML; the map picture is the resource "report-map.png".
QString ReportHtml(const TReportFacts& facts);

bool SaveInstallationReport(const TReportFacts& facts, const std::string& pdfPath, std::string& error);
