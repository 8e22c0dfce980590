#ifndef APPLICATIONCONTEXT_H
#define APPLICATIONCONTEXT_H

class TofDevice;

// Owns the one device link for the life of the application. Constructing it
// already scans the serial ports and may open the camera.
class ApplicationContext
{
public:
    ApplicationContext();
    ~ApplicationContext();

    ApplicationContext(const ApplicationContext &) = delete;
    ApplicationContext &operator=(const ApplicationContext &) = delete;

    TofDevice *device() const { return m_device; }

    // The interface font the fixed window layouts are made for: the desktop's
    // default family at 8 points (larger defaults would clip the labels).
    static void useInterfaceFont();

private:
    TofDevice *m_device;
};

#endif // APPLICATIONCONTEXT_H
