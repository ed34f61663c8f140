package tavrel.zelvo;

/**
 * Sends messages to the web page connected to the bridge.
 *
 * <p>The bridge registers both methods when it starts the Java virtual machine;
 * they may be called from any thread, for as long as the page is connected.
 * Each call sends one WebSocket message and returns once it has been handed on.
 */
public final class NativeDesktopApplicationMessage {
    private NativeDesktopApplicationMessage() {}

    /** Sends a text message. A NUL character ends the text that is sent. */
    public static native void onMessage(String message);

    /** Sends a binary message with the array's bytes; the array is not kept. */
    public static native void onMessage(byte[] message);
}
