#pragma once

#include <TavikVendorComment/tavikvendorcomment_export.h>

#include <QDate>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <string>

namespace tavik {

class VendorCommentWidgetPrivate;

/**
 * The vendor comment control as a QWidget: shows the free-text comments that a server page
 * keeps for one vendor and lets the user add, edit and delete them.
 *
 * Place it, then load a vendor with loadData() (or LoadData()). It has the fixed size it was
 * designed at (a Fixed size policy); giving it the focus gives it to the comment list. Every
 * call must come on the thread of the QApplication.
 */
class TAVIKVENDORCOMMENT_EXPORT VendorCommentWidget : public QWidget {
    Q_OBJECT
    /// The vendor key of the last load.
    Q_PROPERTY(QString vendorId READ vendorId)
    /// The permission mode of the last load.
    Q_PROPERTY(tavik::VendorCommentWidget::Mode mode READ mode)
    /// How many comments the list shows.
    Q_PROPERTY(int rowCount READ rowCount)

public:
    /// What the user may do with the comments.
    enum Mode {
        ViewOnly = 0,  ///< read them only
        ReadWrite = 1, ///< also add, edit and delete them
        FullAccess = 2 ///< the same as ReadWrite, for hosts that pass 2
    };
    Q_ENUM(Mode)

    /// Creates the control, empty until a vendor is loaded.
    explicit VendorCommentWidget(QWidget* parent = nullptr);
    ~VendorCommentWidget() override;

    /**
     * Loads a vendor from six texts, as the component's hosts call it: the server prefix
     * (ending in "/"), the vendor key, the mode as a number, the SCRN and PO date passed to
     * the server page, and the server's date. Failures are silent; loadFailed() reports them.
     */
    void LoadData(const std::string& ptServerName, const std::string& ptVendorID,
                  const std::string& ptMode, const std::string& ptSCRN, const std::string& ptPODate,
                  const std::string& ptServerDate);

    /// The vendor key of the last load.
    QString vendorId() const;
    /// The permission mode of the last load.
    Mode mode() const;
    /// How many comments the list shows.
    int rowCount() const;

    /// The design size.
    QSize sizeHint() const override;
    /// The design size as well: the widgets keep their places, so a smaller control would cut
    /// them off. Put the control in a QScrollArea where the room may be smaller.
    QSize minimumSizeHint() const override;

public Q_SLOTS:
    /**
     * Loads the comments of `vendorId` from the page VendorCommentLOAD.asp below `server`;
     * `scrn` and `poDate` are passed to the page, `serverDate` is the date the pickers start
     * from. Emits loaded() or loadFailed().
     */
    void loadData(const QUrl& server, const QString& vendorId,
                  tavik::VendorCommentWidget::Mode mode, const QString& scrn, const QString& poDate,
                  const QDate& serverDate);

Q_SIGNALS:
    /// A load filled the lists; `rows` comments are shown.
    void loaded(int rows);
    /// A load failed (no server, an error status, a document that is not XML...); the list
    /// shows nothing, as the user sees it.
    void loadFailed(const QString& reason);
    /// The server accepted a new comment; the list has been reloaded.
    void commentAdded();
    /// The server accepted an edited comment; its row shows the new text.
    void commentUpdated();
    /// The server accepted a delete; the row has left the list.
    void commentDeleted();
    /// The server refused a statement with this answer, which the user saw.
    void statementRefused(const QString& answer);
    /// A statement could not be carried out (no server, an error status, no answer in
    /// time); the user saw the error box.
    void transferFailed();

private:
    friend class VendorCommentWidgetPrivate;
    std::unique_ptr<VendorCommentWidgetPrivate> const d;
};

} // namespace tavik
