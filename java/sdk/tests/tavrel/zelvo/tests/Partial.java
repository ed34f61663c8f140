package tavrel.zelvo.tests;

import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;
import java.util.concurrent.CountDownLatch;

import tavrel.zelvo.idesktopapplication.DesktopApplication;

/**
 * Hands an object that lacks some of the application's methods to the bridge, as
 * an application written against another contract would look to it. Method
 * handles pass a value to an interface type unchecked, as the bytecode verifier
 * does, so the object need not implement the interface.
 */
final class Partial {
    private static final MethodHandle AS_APPLICATION = MethodHandles.explicitCastArguments(
        MethodHandles.identity(Object.class), MethodType.methodType(DesktopApplication.class, Object.class));

    private Partial() {}

    /** Keeps the application running on a thread of its own until onClose(). */
    abstract static class UntilClosed {
        private final CountDownLatch closed = new CountDownLatch(1);

        UntilClosed(String threadName) {
            new Thread(() -> {
                try {
                    closed.await();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }, threadName).start();
        }

        public void onClose() {
            closed.countDown();
        }
    }

    static DesktopApplication asApplication(Object application) {
        try {
            return (DesktopApplication) AS_APPLICATION.invokeExact(application);
        } catch (Throwable e) {
            throw new IllegalStateException(e);
        }
    }
}
