package tavrel.zelvo.sample;

import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;

import tavrel.zelvo.NativeDesktopApplicationMessage;
import tavrel.zelvo.idesktopapplication.DesktopApplication;

/**
 * Sends every message back to the page. The messages are answered from a thread
 * of the application's own, which is not a daemon: it keeps the application
 * alive while the page is connected, and ends when the page closes.
 */
public final class EchoApplication implements DesktopApplication {
    private static final Object CLOSED = new Object();

    private final BlockingQueue<Object> inbox = new LinkedBlockingQueue<>();
    private final Thread worker = new Thread(this::answer, "zelvo-echo");

    void start() {
        worker.start();
    }

    @Override
    public void onMessage(String message) {
        inbox.add(message);
    }

    @Override
    public void onMessage(byte[] message) {
        inbox.add(message);
    }

    @Override
    public void onClose() {
        inbox.add(CLOSED);
    }

    private void answer() {
        try {
            for (Object message = inbox.take(); message != CLOSED; message = inbox.take()) {
                if (message instanceof String) {
                    NativeDesktopApplicationMessage.onMessage((String) message);
                } else {
                    NativeDesktopApplicationMessage.onMessage((byte[]) message);
                }
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
