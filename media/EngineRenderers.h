#pragma once
// Creation of the engine's own video renderers for a player's graph.
#include "framework/WinTypes.h"
#include "framework/dshow/FilterInterfaces.h"

class TextureFactory;
class VideoFrameSource;
struct IDirect3DDevice9;

enum class EngineRendererKind { Surface, Texture };

// A new renderer (one reference in *filter) with its frame source, told the picture
// formats it may accept (textureFactory may be null). *filter stays null on failure.
HRESULT createEngineRenderer(EngineRendererKind kind, IDirect3DDevice9* device, TextureFactory* textureFactory,
                             IBaseFilter** filter, VideoFrameSource** frameSource);
// The registered name the renderer joins a graph under.
const char16_t* engineRendererName(EngineRendererKind kind);
