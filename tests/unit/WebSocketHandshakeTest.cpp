#include "websocket/WebSocketHandshake.h"
#include "websocket/Base64.h"

#include <set>

#include <gtest/gtest.h>

TEST(WebSocketHandshake, AcceptKeyOfTheRfcSample)
{
	EXPECT_EQ(computeAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
	// The key is used exactly as given.
	EXPECT_NE(computeAcceptKey(" dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketHandshake, ClientKeysAreFreshSixteenByteValues)
{
	std::set<std::string> keys;
	for (int i = 0; i < 50; ++i) {
		const std::string key = generateClientKey();
		EXPECT_EQ(key.size(), 24u);
		EXPECT_EQ(key.substr(22), "==");
		EXPECT_EQ(base64Decode(key).size(), 16u);
		keys.insert(key);
	}
	EXPECT_EQ(keys.size(), 50u);
	EXPECT_EQ(randomBytes(0), "");
	EXPECT_EQ(randomBytes(33).size(), 33u);
}

TEST(WebSocketHandshake, HeadIsCutAtTheFirstBlankLine)
{
	ReceiveBuffer buffer("GET / HTTP/1.1\r\nHost: x\r\n\r");
	EXPECT_FALSE(extractHttpHead(buffer));
	EXPECT_EQ(buffer.size(), 26u);
	buffer.append("\n\x81\x02hi");
	const auto head = extractHttpHead(buffer);
	ASSERT_TRUE(head);
	EXPECT_EQ(*head, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
	EXPECT_EQ(buffer.view(), "\x81\x02hi");

	ReceiveBuffer tiny("\r\n");
	EXPECT_FALSE(extractHttpHead(tiny));
	ReceiveBuffer bare("\r\n\r\n");
	EXPECT_EQ(extractHttpHead(bare).value_or("none"), "\r\n\r\n");
}

TEST(WebSocketHandshake, HeaderLookup)
{
	const std::string head = "GET /?token=x HTTP/1.1\r\n"
				 "Host: 127.0.0.1\r\n"
				 "sec-websocket-key:    abc==  \t\r\n"
				 "Sec-WebSocket-Key: second\r\n"
				 "Empty:\r\n"
				 "X-Folded: one\r\n"
				 "  two\r\n"
				 "\r\n";
	EXPECT_EQ(findHeaderValue(head, "Sec-WebSocket-Key"), "abc==");
	EXPECT_EQ(findHeaderValue(head, "HOST"), "127.0.0.1");
	EXPECT_EQ(findHeaderValue(head, "Empty"), "");
	EXPECT_EQ(findHeaderValue(head, "X-Folded"), "one");
	EXPECT_EQ(findHeaderValue(head, "Missing"), "");
	// The name must be followed by the colon directly.
	EXPECT_EQ(findHeaderValue(head, "Sec-WebSocket"), "");
	// The first line takes part too.
	EXPECT_EQ(findHeaderValue("Status: 7\r\n\r\n", "status"), "7");
}

TEST(WebSocketHandshake, BuiltRequestAndReplies)
{
	EXPECT_EQ(buildUpgradeRequest("/v2/vek?client_id=c", "h:4", "k==", "https://o"),
		  "GET /v2/vek?client_id=c HTTP/1.1\r\n"
		  "Host: h:4\r\n"
		  "Upgrade: websocket\r\n"
		  "Connection: Upgrade\r\n"
		  "Sec-WebSocket-Version: 13\r\n"
		  "Sec-WebSocket-Key: k==\r\n"
		  "Origin: https://o\r\n\r\n");
	const std::string reply = "HTTP/1.1 101 Switching Protocols\r\n"
				  "Upgrade: websocket\r\n"
				  "Connection: Upgrade\r\n"
				  "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n";
	EXPECT_EQ(buildUpgradeReply("dGhlIHNhbXBsZSBub25jZQ=="), reply + "\r\n");
	EXPECT_EQ(buildUpgradeReply("dGhlIHNhbXBsZSBub25jZQ==", "p.json"),
		  reply + "Sec-WebSocket-Protocol: p.json\r\n\r\n");
}

TEST(WebSocketHandshake, RequestsAreReadAndRefused)
{
	const UpgradeRequest good =
		readUpgradeRequest("GET /?token=a%20b HTTP/1.1\r\nupgrade: WebSocket\r\n"
				   "Sec-WebSocket-Key: k==\r\nSec-WebSocket-Protocol: a, b\r\n\r\n");
	EXPECT_EQ(good.target, "/?token=a%20b");
	EXPECT_EQ(good.key, "k==");
	EXPECT_EQ(good.protocols, "a, b");
	EXPECT_TRUE(isWebSocketUpgrade(good));

	const char *const refused[] = {
		"POST / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: k==\r\n\r\n",
		"GET / HTTP/1.1\r\nUpgrade: h2c\r\nSec-WebSocket-Key: k==\r\n\r\n",
		"GET / HTTP/1.1\r\nSec-WebSocket-Key: k==\r\n\r\n",
		"GET / HTTP/1.1\r\nUpgrade: websocket\r\n\r\n",
		"get / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: k==\r\n\r\n",
	};
	for (const char *head : refused)
		EXPECT_FALSE(isWebSocketUpgrade(readUpgradeRequest(head))) << head;
	// A first line without two spaces names no target.
	EXPECT_EQ(readUpgradeRequest("GET /x\r\nHost: a b c\r\n\r\n").target, "");

	EXPECT_TRUE(listsToken(" a ,\tobswebsocket.json", "obswebsocket.json"));
	EXPECT_FALSE(listsToken("obswebsocket.jsonx, obswebsocket.msgpack", "obswebsocket.json"));
	EXPECT_FALSE(listsToken("", "obswebsocket.json"));
}

TEST(WebSocketHandshake, RepliesAreCheckedAgainstTheClientKey)
{
	using Verdict = UpgradeReplyCheck::Verdict;
	const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
	EXPECT_EQ(checkUpgradeReply(buildUpgradeReply(key), key).verdict, Verdict::Accepted);
	EXPECT_EQ(checkUpgradeReply("HTTP/1.1 200 OK\r\n\r\n", key).verdict, Verdict::NotSwitching);
	EXPECT_EQ(checkUpgradeReply("HTTP/1.0 101 Switching Protocols\r\n\r\n", key).verdict, Verdict::NotSwitching);
	EXPECT_EQ(checkUpgradeReply("HTTP/1.1 10", key).verdict, Verdict::NotSwitching);
	const UpgradeReplyCheck wrong = checkUpgradeReply(buildUpgradeReply("other"), key);
	EXPECT_EQ(wrong.verdict, Verdict::AcceptMismatch);
	EXPECT_EQ(wrong.expectedAccept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
	EXPECT_EQ(wrong.presentedAccept, computeAcceptKey("other"));
	const UpgradeReplyCheck missing = checkUpgradeReply("HTTP/1.1 101 Switching Protocols\r\n\r\n", key);
	EXPECT_EQ(missing.verdict, Verdict::AcceptMismatch);
	EXPECT_EQ(missing.presentedAccept, "");
}
