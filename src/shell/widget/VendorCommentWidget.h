#pragma once

/// @file VendorCommentWidget.h
/// The control as a Qt widget, tavik::VendorCommentWidget.

#include <TavikVendorComment/tavikvendorcomment_export.h>

#include <QDate>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <string>

class QAuthenticator;

namespace tavik {

class VendorCommentWidgetPrivate;

/**
 * The vendor comment control as a QWidget: shows the free-text comments that a server page
 * keeps for one vendor and lets the user add, edit and delete them.
 *
 * Place it, then load a vendor with loadData() (or LoadData()). It has the fixed size it was
 * designed at (a Fixed size policy); giving it the focus gives it to the comment list. Every
 * call must come on the widget's thread; a call from another thread is refused with a
 * warning and does nothing. The widget may be deleted at any moment, also from a slot
 * connected to its signals or while the user's statement waits for the server.
 */
class TAVIKVENDORCOMMENT_EXPORT VendorCommentWidget : public QWidget {
    Q_OBJECT
    /// The vendor key of the last load.
    Q_PROPERTY(QString vendorId READ vendorId NOTIFY vendorIdChanged)
    /// The permission mode of the last load.
    Q_PROPERTY(tavik::VendorCommentWidget::Mode mode READ mode NOTIFY modeChanged)
    /// How many comments the list shows.
    Q_PROPERTY(int rowCount READ rowCount NOTIFY rowCountChanged)
    /// Whether the user is adding or editing a comment (what a reload would discard).
    Q_PROPERTY(bool editing READ isEditing NOTIFY editingChanged)
    /// Whether a saved or deleted comment waits for the server's answer.
    Q_PROPERTY(bool statementInFlight READ isStatementInFlight NOTIFY statementInFlightChanged)

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
     * Blocks until the load is over; loadData() does not.
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
    /// Whether the user is adding or editing a comment.
    bool isEditing() const;
    /// Whether a saved or deleted comment waits for the server's answer.
    bool isStatementInFlight() const;

    /**
     * Signs in to the server page with these credentials from now on, for loads and for
     * statements (HTTP authentication). They are kept in memory only and never logged or
     * shown. Empty ones leave the sign-in to the server prefix and ~/.netrc.
     */
    void setCredentials(const QString& user, const QString& password);

    /// The design size.
    QSize sizeHint() const override;
    /// The design size as well: the widgets keep their places, so a smaller control would cut
    /// them off. Put the control in a QScrollArea where the room may be smaller.
    QSize minimumSizeHint() const override;

public Q_SLOTS:
    /**
     * Loads the comments of `vendorId` from the page VendorCommentLOAD.asp below `server`
     * (with or without a trailing "/"); `scrn` and `poDate` are passed to the page,
     * `serverDate` is the date the pickers start from. Returns at once: the document is
     * fetched in the background, then the lists are filled in one go, and loaded() or
     * loadFailed() follows. A later call before that supersedes this one. While the fetch
     * runs, the pointer shows that the control is busy.
     */
    void loadData(const QUrl& server, const QString& vendorId,
                  tavik::VendorCommentWidget::Mode mode, const QString& scrn, const QString& poDate,
                  const QDate& serverDate);
    /// Repeats the last load (of either kind) as loadData() does; nothing before a first load.
    void reload();

Q_SIGNALS:
    /// A load filled the lists; `rows` comments are shown.
    void loaded(int rows);
    /// A load failed (no server, an error status, a document that is not XML...); the list
    /// shows nothing, as the user sees it.
    void loadFailed(const QString& reason);
    /// The server accepted a new comment; the list has been reloaded. `sequence` is the new
    /// comment's key when the reload showed which row is new, otherwise empty.
    void commentAdded(const QString& sequence);
    /// The server accepted the edited comment `sequence`; its row shows the new text.
    void commentUpdated(const QString& sequence);
    /// The server accepted the delete of comment `sequence`; the row has left the list.
    void commentDeleted(const QString& sequence);
    /// The server refused a statement with this answer, which the user saw.
    void statementRefused(const QString& answer);
    /// A statement could not be carried out: `reason` is the transfer's error or the HTTP
    /// status; the user saw the error box.
    void transferFailed(const QString& reason);
    /// The user began adding or editing a comment (true), or the editor went back to
    /// showing the selected comment (false).
    void editingChanged(bool editing);
    /// A save or delete went to the server (true), or its answer has been handled (false).
    void statementInFlightChanged(bool inFlight);
    /// A load changed the vendor key.
    void vendorIdChanged(const QString& vendorId);
    /// A load changed the permission mode.
    void modeChanged(tavik::VendorCommentWidget::Mode mode);
    /// The list was loaded (whatever its count) or lost a deleted comment.
    void rowCountChanged(int rowCount);
    /**
     * The server page wants a sign-in (HTTP 401) for a load or a statement. Fill in
     * `authenticator`'s user and password (from a connection made directly, without
     * queueing) to have the request sent once more with them, which setCredentials() then
     * keeps; leave it empty to let the request fail ("sign-in needed (HTTP 401)").
     */
    void authenticationRequired(QAuthenticator* authenticator);

private:
    friend class VendorCommentWidgetPrivate;
    std::unique_ptr<VendorCommentWidgetPrivate> const d;
};

} // namespace tavik
