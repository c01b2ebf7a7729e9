// The fixture of the painter's content tests: a painter writing numbers with
// four decimals, and the standard Helvetica as font F in a numbering pool.
#pragma once

#include <gtest/gtest.h>

#include "PainterTestSupport.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaPainter.h"

namespace pvltest {

class TPainterFixture : public ::testing::Test {
protected:
  void SetUp() override {
    font.CreateStandardFont("Helvetica", 5);
    painter.SetPrecision(4);
    painter.Reset();
  }
  TTestPdf pdf;
  TPDFFont font{&pdf.pool, "F"};
  TPDFPainter painter;
};

}  // namespace pvltest
