package tavrel.zelvo.tests;

import java.util.concurrent.CountDownLatch;

import tavrel.zelvo.NativeDesktopApplicationMessage;
import tavrel.zelvo.idesktopapplication.DesktopApplication;

/** An application without onMessage(byte[]): text messages come back; it ends on close. */
public final class NoBinaryLoader {
    private NoBinaryLoader() {}

    public static DesktopApplication run(String[] archive, String code) {
        return Partial.asApplication(new Application());
    }

    public static final class Application {
        private final CountDownLatch closed = new CountDownLatch(1);

        Application() {
            new Thread(() -> {
                try {
                    closed.await();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }, "zelvo-no-binary").start();
        }

        public void onMessage(String message) {
            NativeDesktopApplicationMessage.onMessage(message);
        }

        public void onClose() {
            closed.countDown();
        }
    }
}
