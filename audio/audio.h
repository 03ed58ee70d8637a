// The PortAudio device: default input and output, the capture stream whose
// callback drives the system, the display ring, and a blocking record/play
// interface. Used from the main thread only.
#pragma once

#include "app/config.h"
#include "audio/callback_context.h"

#include <portaudio.h>

namespace classification {

class MAudio {
 public:
  explicit MAudio(XmlNode* systemRoot);
  MAudio(int sampleRate, int framesPerBuffer);
  ~MAudio();
  MAudio(const MAudio&) = delete;
  MAudio& operator=(const MAudio&) = delete;

  void initDevice();
  // Creates the display ring and opens and starts the capture stream with the
  // given callback (user data: the callback context). Does not open a stream
  // when there is no default input device.
  bool initCallback(MSegmentator* segmentator, XmlNode* userRoot, PaStreamCallback* callback);
  bool stopStream();
  RingBuffer* getRingBuffer() { return callbackReady ? &context.displayRing : nullptr; }
  CallbackContext* getCallbackContext() { return &context; }
  int getSampleRate() const { return sampleRate; }
  int getFramesBuffer() const { return framesPerBuffer; }
  bool hasInputDevice() const { return inputParameters.device != paNoDevice; }
  bool isRunning() const { return running; }

  bool start_recordStream();
  bool readBuffer(float* buffer);
  bool startPlayStream();
  bool writeBuffer(float* buffer);
  void setFramesbuffer(int frames);
  bool setSamplingRate(int rate);
  void setDevice(int device);
  const PaDeviceInfo** getDevices();
  void printDevices();

 private:
  bool openBlocking(bool input, const char* message);

  int sampleRate;
  int framesPerBuffer;
  CallbackContext context;  // display ring, its storage, segmentator, M
  PaStreamParameters inputParameters{};
  PaStreamParameters outputParameters{};
  PaStream* stream = nullptr;
  bool running = false;
  bool callbackReady = false;
  const PaDeviceInfo** deviceList = nullptr;
  bool paInitialized = false;
};

}  // namespace classification
