// Micro-benchmarks of the WebSocket toolkit and the host method router, each
// beside the baseline it is judged against: frame decoding and unmasking
// against memcpy of the same bytes, Base64 against Qt's, and frame processing
// of a buffer holding many frames (time per frame must not grow with the
// count), and the event proxy's routing of a published event against the
// parse-and-write path it replaced.

#include "host/LocalHostRouter.h"
#include "proxy/ProxyMessageRouting.h"
#include "websocket/Base64.h"
#include "websocket/FrameProcessor.h"
#include "websocket/ReceiveBuffer.h"
#include "websocket/WebSocketFrame.h"

#include <cstring>
#include <string>
#include <vector>

#include <QByteArray>

#include <benchmark/benchmark.h>

namespace {

constexpr size_t kLargeFrame = 64 * 1024;
constexpr int kFramesPerBatch = 64; // 4 MiB a batch: beyond the caches, as socket data is

std::string patternBytes(size_t size)
{
	std::string bytes(size, '\0');
	uint32_t state = 12345;
	for (char &c : bytes) {
		state = state * 1103515245 + 12345;
		c = char(state >> 24);
	}
	return bytes;
}

// Masked frames as a client sends them, back to back.
std::string maskedFrames(size_t payloadSize, size_t count)
{
	const std::string payload = patternBytes(payloadSize);
	std::string frame = encodeFrame(payload, WebSocketOpcode::Binary, true);
	std::string all;
	all.reserve(frame.size() * count);
	for (size_t i = 0; i < count; ++i)
		all += frame;
	return all;
}

void BM_DecodeUnmask64KiB(benchmark::State &state)
{
	const std::string frames = maskedFrames(kLargeFrame, kFramesPerBatch);
	ReceiveBuffer buffer;
	WebSocketFrame frame;
	std::string error;
	for (auto _ : state) {
		state.PauseTiming();
		buffer.clear();
		buffer.append(frames);
		state.ResumeTiming();
		for (int i = 0; i < kFramesPerBatch; ++i) {
			if (decodeFrame(buffer, frame, error) != DecodeResult::FrameReady)
				state.SkipWithError("frame not decoded");
			benchmark::DoNotOptimize(frame.payload.data());
		}
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * kFramesPerBatch * int64_t(kLargeFrame));
}
BENCHMARK(BM_DecodeUnmask64KiB);

// The baseline: each frame's payload copied out of the same bytes.
void BM_Memcpy64KiB(benchmark::State &state)
{
	const std::string frames = maskedFrames(kLargeFrame, kFramesPerBatch);
	const size_t frameSize = frames.size() / kFramesPerBatch;
	std::string payload(kLargeFrame, '\0');
	for (auto _ : state) {
		for (int i = 0; i < kFramesPerBatch; ++i) {
			std::memcpy(payload.data(), frames.data() + i * frameSize + (frameSize - kLargeFrame),
				    kLargeFrame);
			benchmark::DoNotOptimize(payload.data());
			benchmark::ClobberMemory();
		}
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * kFramesPerBatch * int64_t(kLargeFrame));
}
BENCHMARK(BM_Memcpy64KiB);

class CountingEndpoint : public FrameEndpoint {
public:
	void sendFrame(std::string &&) override {}
	bool onTextMessage(std::string &&text) override
	{
		bytes += text.size();
		++messages;
		return true;
	}
	size_t messages = 0;
	size_t bytes = 0;
};

// One receive buffer holding N small masked text frames, processed in one
// call, as after a large read from a busy connection.
void BM_ProcessManySmallFrames(benchmark::State &state)
{
	const size_t count = size_t(state.range(0));
	const std::string payload = R"({"payload":{"type":"X_LOG","n":1}})";
	const std::string frame = encodeFrame(payload, WebSocketOpcode::Text, true);
	std::string all;
	all.reserve(frame.size() * count);
	for (size_t i = 0; i < count; ++i)
		all += frame;
	FrameProcessingOptions options;
	options.maxUnprocessedBytes = all.size() + 1;
	for (auto _ : state) {
		state.PauseTiming();
		ReceiveBuffer buffer(all);
		FragmentState fragments;
		CountingEndpoint endpoint;
		std::string error;
		state.ResumeTiming();
		const FrameProcessingResult result = processFrames(buffer, fragments, endpoint, options, error);
		if (result != FrameProcessingResult::NeedMore || endpoint.messages != count)
			state.SkipWithError("frames not all processed");
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(count));
	state.SetComplexityN(int64_t(count));
}
BENCHMARK(BM_ProcessManySmallFrames)
	->Arg(10000)
	->Arg(100000)
	->Arg(1000000)
	->Complexity(benchmark::oN)
	->Unit(benchmark::kMillisecond);

void BM_Base64Encode(benchmark::State &state)
{
	const std::string bytes = patternBytes(size_t(state.range(0)));
	for (auto _ : state)
		benchmark::DoNotOptimize(base64Encode(bytes));
	state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64Encode)->Arg(1024)->Arg(1024 * 1024);

void BM_QtToBase64(benchmark::State &state)
{
	const std::string pattern = patternBytes(size_t(state.range(0)));
	const QByteArray bytes(pattern.data(), qsizetype(pattern.size()));
	for (auto _ : state)
		benchmark::DoNotOptimize(bytes.toBase64());
	state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_QtToBase64)->Arg(1024)->Arg(1024 * 1024);

// Decoding is counted in decoded bytes on both sides.
void BM_Base64Decode(benchmark::State &state)
{
	const std::string text = base64Encode(patternBytes(size_t(state.range(0))));
	for (auto _ : state)
		benchmark::DoNotOptimize(base64Decode(text));
	state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64Decode)->Arg(1024)->Arg(1024 * 1024);

void BM_QtFromBase64(benchmark::State &state)
{
	const std::string encoded = base64Encode(patternBytes(size_t(state.range(0))));
	const QByteArray text(encoded.data(), qsizetype(encoded.size()));
	for (auto _ : state)
		benchmark::DoNotOptimize(QByteArray::fromBase64(text));
	state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_QtFromBase64)->Arg(1024)->Arg(1024 * 1024);

// A small request through a table the size of the module's (23 methods),
// answered at once, as the host methods that need no other thread are.
void BM_RouterDispatch(benchmark::State &state)
{
	LocalHostRouter router;
	for (int i = 0; i < 22; ++i)
		router.setHandler("method." + std::to_string(i),
				  [](const json &, const LocalHostRouter::Responder &r) { r.success(json::object()); });
	router.setHandler("accounts.list", [](const json &params, const LocalHostRouter::Responder &r) {
		r.success(json{{"accounts", json::array()}, {"platform", params.value("platform", "")}});
	});
	const std::string request = R"({"id":"42","method":"accounts.list","params":{"platform":"twitch"}})";
	size_t replied = 0;
	const LocalHostRouter::ReplyFunction reply = [&replied](std::string text) {
		replied += text.size();
	};
	for (auto _ : state)
		router.dispatch(request, reply);
	if (replied == 0)
		state.SkipWithError("no reply");
	state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_RouterDispatch);

// A chat event as a page publishes it, about 1 KiB, keys not in order.
std::string chatEventMessage()
{
	std::string message =
		R"({"upid":"twitch_51234987","forVek":false,"payload":{"user_id":"98765432","platform":"twitch",)"
		R"("event_type":"CHAT_MESSAGE","id":"c0a8e1f2-7b3d-4e5f-9a1b-2c3d4e5f6a7b","created_at":1733660000123,)"
		R"("sender":{"username":"zoe_plays","display_name":"Zo\u00eb Plays","color":"#FF8800",)"
		R"("image_link":"https://static.example.test/avatars/98765432/300x300.png","is_subscriber":true,)"
		R"("badges":[{"type":"subscriber","version":"12"},{"type":"moderator","version":"1"}]},)"
		R"("message":"That last run was unreal, the skip at the second boss saved at least forty seconds!)"
		R"( Can you do the glitch again? \ud83d\ude00\ud83d\ude00 PogChamp PogChamp","emotes":[)"
		R"({"id":"305954156","name":"PogChamp","start":150,"end":157},)"
		R"({"id":"305954156","name":"PogChamp","start":159,"end":166}],)"
		R"("reply_to":{"id":"9f8e7d6c-5b4a-3928-1706-f5e4d3c2b1a0","username":"speedrunner_42",)"
		R"("message":"Watch the skip at the second boss"},"channel":{"id":"51234987","name":"speedrunner_42"},)"
		R"("flags":{"highlighted":false,"first_message":false,"action":false},"bits":0,"room_id":"51234987"}})";
	return message;
}

// What publishing cost before: the message parsed into a value, the payload
// moved out and written back as compact text.
void routeDom(benchmark::State &state, const std::string &message)
{
	size_t written = 0;
	for (auto _ : state) {
		json parsed = parseJson(message);
		json payload = std::move(parsed["payload"]);
		const std::string upid = stringMember(parsed, "upid");
		const std::string type = stringMember(payload, "type");
		const std::string text = compactJson(payload);
		const std::string eventType = stringMember(payload, "event_type");
		benchmark::DoNotOptimize(upid.data());
		benchmark::DoNotOptimize(type.data());
		benchmark::DoNotOptimize(eventType.data());
		written += text.size();
	}
	state.SetBytesProcessed(int64_t(state.iterations() * message.size()));
	benchmark::DoNotOptimize(written);
}

void routeCanonical(benchmark::State &state, const std::string &message)
{
	if (routeProxyMessage(message, true).action != ProxyRoute::Action::Publish) {
		state.SkipWithError("not published");
		return;
	}
	size_t written = 0;
	for (auto _ : state) {
		const ProxyRoute route = routeProxyMessage(message, true);
		written += route.payloadText.size();
	}
	state.SetBytesProcessed(int64_t(state.iterations() * message.size()));
	benchmark::DoNotOptimize(written);
}

void BM_RouteDom(benchmark::State &state)
{
	routeDom(state, chatEventMessage());
}
BENCHMARK(BM_RouteDom);

void BM_RouteCanonical(benchmark::State &state)
{
	routeCanonical(state, chatEventMessage());
}
BENCHMARK(BM_RouteCanonical);

// What any client may send before its token is checked: objects nested 500
// deep, each with its keys out of order, around a string of 1 MiB. Every
// level's reordering must not cost its whole subtree again.
std::string deepUnsortedMessage()
{
	constexpr size_t depth = 500;
	std::string message = R"({"upid":"u","payload":)";
	for (size_t i = 0; i < depth; ++i)
		message += R"({"b":)";
	message += '"' + std::string(1024 * 1024, 'x') + '"';
	for (size_t i = 0; i < depth; ++i)
		message += R"(,"a":0})";
	return message + "}";
}

void BM_RouteDomDeepUnsorted(benchmark::State &state)
{
	routeDom(state, deepUnsortedMessage());
}
BENCHMARK(BM_RouteDomDeepUnsorted);

void BM_RouteCanonicalDeepUnsorted(benchmark::State &state)
{
	routeCanonical(state, deepUnsortedMessage());
}
BENCHMARK(BM_RouteCanonicalDeepUnsorted);

} // namespace

BENCHMARK_MAIN();
