# Doxygen writes each help keyword's id as NAME_ANCHOR (tavik::VendorCommentWidget_ for the
# class, FILE.h::MACRO_ANCHOR for a macro), but Qt Creator's context help looks a name up by
# the name alone: tavik::VendorCommentWidget, tavik::VendorCommentWidget::loadData,
# TAVIKVENDORCOMMENT_VERSION. Rewrites the ids of QHP (the .qhp file) before qhelpgenerator.
file(READ ${QHP} text)
string(REGEX REPLACE "( id=\")[^\":]*\\.h::" "\\1" text "${text}")
string(REGEX REPLACE "( id=\"[^\"]*)_[^_\"]*\"( ref=)" "\\1\"\\2" text "${text}")
file(WRITE ${QHP} "${text}")
