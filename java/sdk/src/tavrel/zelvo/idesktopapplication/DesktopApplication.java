package tavrel.zelvo.idesktopapplication;

/**
 * A Java application hosted by the bridge for one web page.
 *
 * <p>A loader class with a method
 * {@code public static DesktopApplication run(String[] archive, String code)}
 * builds it; the bridge calls that method once, with the "archive" and "code"
 * values of the page's request. The application lives as long as it keeps a
 * non-daemon thread running: when the last one ends, the bridge closes the
 * connection. The three methods below are called on the bridge's own thread, one
 * at a time; they should return quickly.
 */
public interface DesktopApplication {
    /** A text message from the page (the text up to its first NUL, if any). */
    void onMessage(String message);

    /** A binary message from the page; the array belongs to the application. */
    void onMessage(byte[] message);

    /** The page has closed the connection: end the application's threads. */
    void onClose();
}
